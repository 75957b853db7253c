// Step 1: the definition. Every edit is sent to /api/validate and the
// layer's message is shown next to the field it names.
import { api } from './api.js';
import { $, $$, el } from './dom.js';
import { parseNumber } from './format.js';

const factorRows = () => $$('#factor-table tbody tr.item');
const responseRows = () => $$('#response-table tbody tr.item');

function removeRow(row) {
  row.nextElementSibling?.remove();  // its message row
  row.remove();
}

function addFactor(factor = {}, onEdit) {
  const row = el('tr', { class: 'item' },
    el('td', {}, el('input', { class: 'name', name: 'name', value: factor.name ?? '', placeholder: 'Temperature' })),
    el('td', {}, el('input', { name: 'low', value: factor.low ?? '', inputmode: 'decimal' })),
    el('td', {}, el('input', { name: 'high', value: factor.high ?? '', inputmode: 'decimal' })),
    el('td', {}, el('input', { name: 'unit', value: factor.unit ?? '', placeholder: 'optional' })),
    el('td', {}, el('button', { type: 'button', class: 'remove', title: 'Remove this factor',
      onclick: () => { removeRow(row); onEdit(); } }, '×')));
  $('#factor-table tbody').append(row, el('tr', {}, el('td', { colspan: 5, class: 'field-error' })));
}

function addResponse(response = {}, onEdit) {
  const row = el('tr', { class: 'item' },
    el('td', {}, el('input', { class: 'name', name: 'name', value: response.name ?? '', placeholder: 'Yield' })),
    el('td', {}, el('input', { name: 'unit', value: response.unit ?? '', placeholder: 'optional' })),
    el('td', {}, el('button', { type: 'button', class: 'remove', title: 'Remove this response',
      onclick: () => { removeRow(row); onEdit(); } }, '×')));
  $('#response-table tbody').append(row, el('tr', {}, el('td', { colspan: 3, class: 'field-error' })));
}

// Number fields the page itself cannot read, by field name.
const unreadable = new Map();

function numberField(input, field) {
  const value = parseNumber(input.value);
  if (Number.isNaN(value)) {
    unreadable.set(field, `"${input.value.trim()}" is not a number`);
    return null;
  }
  return value;
}

// The definition as the API reads it.
export function readDefinition() {
  unreadable.clear();
  const value = (row, name) => $(`input[name=${name}]`, row).value;
  const factors = factorRows().map((row, k) => ({
    name: value(row, 'name'),
    low: numberField($('input[name=low]', row), `factors[${k}].low`),
    high: numberField($('input[name=high]', row), `factors[${k}].high`),
    unit: value(row, 'unit'),
  }));
  const responses = responseRows().map((row) => ({ name: value(row, 'name'), unit: value(row, 'unit') }));
  const seed = parseNumber($('#seed').value);
  const extra = parseNumber($('#extra-center-runs').value);
  if (Number.isNaN(seed) || (seed !== null && (!Number.isInteger(seed) || seed < 0)))
    unreadable.set('design', 'the seed is a whole number from 0, or empty for a random order');
  if (Number.isNaN(extra) || (extra !== null && !Number.isInteger(extra)))
    unreadable.set('extraCenterRuns', 'extra centre runs is a whole number');
  return {
    design: $('#design').value,
    factors,
    responses,
    seed: Number.isInteger(seed) && seed >= 0 ? seed : null,
    extraCenterRuns: Number.isInteger(extra) ? extra : 0,
  };
}

// A field's path as the layer gives it: "factors[1].low" is list
// "factors", row 1, input "low"; "design" and "factors" (their count) have
// no row.
function parsePath(field) {
  const m = /^(factors|responses)\[(\d+)\](?:\.(\w+))?$/.exec(field);
  return m ? { list: m[1], row: Number(m[2]), input: m[3] } : { list: field };
}

function rowOf({ list, row }) {
  if (row === undefined) return undefined;
  return (list === 'factors' ? factorRows() : responseRows())[row];
}

// The message cell of a field: its row's, else the list's or the form's own.
function messageCell(field) {
  const path = parsePath(field);
  return rowOf(path)?.nextElementSibling.firstElementChild
    ?? $(`#define .field-error[data-field="${path.list}"]`)
    ?? $('#define .field-error[data-field="design"]');
}

function showFaults(fields) {
  $$('#define .field-error').forEach((cell) => { cell.textContent = ''; });
  $$('#define input.invalid').forEach((input) => input.classList.remove('invalid'));
  for (const [field, message] of Object.entries(fields)) {
    const cell = messageCell(field);
    cell.textContent = cell.textContent ? `${cell.textContent} ${message}` : message;
    const path = parsePath(field);
    if (path.input) rowOf(path)?.querySelector(`input[name=${path.input}]`)?.classList.add('invalid');
  }
  const ok = Object.keys(fields).length === 0;
  $('#create').disabled = !ok;
  $('#define-status').textContent = ok ? 'The definition is valid.' : '';
  return ok;
}

let generation = 0;
// Checks the definition now; the answer of an older edit is dropped.
export async function validate() {
  const mine = ++generation;
  const definition = readDefinition();
  let fields;
  try {
    fields = (await api.validate(definition)).fields;
  } catch (error) {
    fields = { design: error.message };
  }
  if (mine !== generation) return false;
  for (const [field, message] of unreadable) fields[field] = fields[field] ? `${message}; ${fields[field]}` : message;
  return showFaults(fields);
}

// Fills the form with a study's definition (or the example's when none).
export function fillDefinition(study, onEdit) {
  $('#factor-table tbody').replaceChildren();
  $('#response-table tbody').replaceChildren();
  const factors = study?.factors ?? [{}, {}];
  const responses = study?.responses ?? [{}];
  factors.forEach((f) => addFactor(f, onEdit));
  responses.forEach((r) => addResponse(r, onEdit));
  $('#design').value = study?.design ?? 'box-behnken';
  $('#seed').value = study ? String(study.seed) : '';
  $('#extra-center-runs').value = String(study?.extraCenterRuns ?? 0);
}

export function setupDefinition({ onCreated, hasResults }) {
  let timer = 0;
  const onEdit = () => {
    clearTimeout(timer);
    timer = setTimeout(validate, 150);
  };
  $('#define').addEventListener('input', onEdit);
  $('#define').addEventListener('change', onEdit);
  $('#add-factor').addEventListener('click', () => { addFactor({}, onEdit); onEdit(); });
  $('#add-response').addEventListener('click', () => { addResponse({}, onEdit); onEdit(); });
  $('#create').addEventListener('click', async () => {
    if (!(await validate())) return;
    if (hasResults() && !confirm('Replace the current study and its results by a new plan?')) return;
    try {
      onCreated(await api.create(readDefinition()));
    } catch (error) {
      $('#define-status').textContent = '';
      messageCell('design').textContent = error.message;
    }
  });
  return onEdit;
}
