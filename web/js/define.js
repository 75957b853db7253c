// Step 1: the definition. Every edit is sent to /api/validate and the
// layer's message is shown next to the field it names. The designs, the
// options each takes and their factor counts come from the library's
// registry (/api/designs); a valid definition's design is evaluated before
// the study is made.
import { api } from './api.js';
import { $, $$, el } from './dom.js';
import { num, numberCell, parseNumber } from './format.js';

// The registry as /api/designs gives it, by design name.
const designs = new Map();

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

// Whole-number options, by the layer's option name.
function countOption(name) {
  const input = $(`#option-${name}`);
  const value = parseNumber(input.value);
  if (value === null) return undefined;
  if (Number.isNaN(value) || !Number.isInteger(value)) {
    unreadable.set(name, `"${input.value.trim()}" is not a whole number`);
    return undefined;
  }
  return value;
}

// The options the chosen design takes, keyed by the layer's names; an
// option left empty takes the design's default.
function readOptions(design) {
  const options = {};
  const set = (name, value) => { if (value !== undefined && value !== '') options[name] = value; };
  for (const name of designs.get(design)?.options ?? []) {
    // A value asked for is sent even when empty, for the layer to refuse.
    if (name === 'alpha' && $('#option-alpha').value === 'value') options.alpha = $('#option-alpha-value').value.trim();
    else if (name === 'alpha') set(name, $('#option-alpha').value);
    else if (name === 'inscribed') set(name, $('#option-inscribed').checked ? true : undefined);
    else if (name === 'levels') set(name, $('#option-levels').value === '' ? undefined : Number($('#option-levels').value));
    else if (name === 'model') set(name, $('#option-model').value.trim());
    else if (name === 'criterion') set(name, $('#option-criterion').value);
    else if (name === 'constraint') {
      const lines = $('#option-constraint').value.split('\n').map((line) => line.trim()).filter(Boolean);
      set(name, lines.length ? lines : undefined);
    } else set(name, countOption(name));
  }
  return options;
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
  // The seed goes as text: a 64-bit seed is not exact as a JavaScript number.
  const seed = $('#seed').value.trim();
  const design = $('#design').value;
  return {
    design,
    factors,
    responses,
    seed: seed === '' ? null : seed,
    options: readOptions(design),
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

// The message cell of a field: its row's, else the list's, the option's
// or the form's own.
function messageCell(field) {
  const path = parsePath(field);
  return rowOf(path)?.nextElementSibling.firstElementChild
    ?? $(`#define .field-error[data-field="${CSS.escape(path.list)}"]`)
    ?? $('#define .field-error[data-field="design"]');
}

function showFaults(fields) {
  $$('#define .field-error').forEach((cell) => { cell.textContent = ''; });
  $$('#define .invalid').forEach((input) => input.classList.remove('invalid'));
  for (const [field, message] of Object.entries(fields)) {
    const cell = messageCell(field);
    cell.textContent = cell.textContent ? `${cell.textContent} ${message}` : message;
    const path = parsePath(field);
    if (path.input) rowOf(path)?.querySelector(`input[name=${path.input}]`)?.classList.add('invalid');
    else $(`#define .option[data-option="${CSS.escape(field)}"]`)?.querySelector('input, select, textarea')?.classList.add('invalid');
  }
  const ok = Object.keys(fields).length === 0;
  $('#create').disabled = !ok;
  $('#define-status').textContent = ok ? 'The definition is valid.' : '';
  return ok;
}

let generation = 0;
// Checks the definition now and says whether it is valid; the page shows
// the faults, and the design's evaluation when it is valid, unless a newer
// edit has been made or checked meanwhile.
export async function validate() {
  const mine = ++generation;
  const definition = readDefinition();
  const unread = new Map(unreadable);
  let fields;
  try {
    fields = (await api.validate(definition)).fields;
  } catch (error) {
    fields = { [error.field || 'design']: error.message };
  }
  for (const [field, message] of unread) fields[field] = fields[field] ? `${message}; ${fields[field]}` : message;
  const ok = Object.keys(fields).length === 0;
  if (mine !== generation) return ok;
  showFaults(fields);
  const settled = () => { if (mine === generation) $('#define').setAttribute('aria-busy', 'false'); };
  if (ok) evaluate(definition, mine).then(settled);
  else {
    $('#evaluation').hidden = true;
    settled();
  }
  return ok;
}

const percent = (v) => (v === null ? num(v) : `${num(v, 4)} %`);

function evaluationStats(e) {
  const rows = [
    ['D-efficiency', 'dEfficiency', percent], ['A-efficiency', 'aEfficiency', percent],
    ['G-efficiency', 'gEfficiency', percent], ['I (average SPV)', 'iCriterion', num],
    ['Condition number', 'conditionNumber', num],
  ];
  return [
    el('tr', {}, el('td', { class: 'label' }, 'Runs / terms / residual df'), el('td', {}, `${e.runs} / ${e.terms} / ${e.residualDf}`)),
    ...rows.map(([label, key, format]) => el('tr', {}, el('td', { class: 'label' }, label),
      numberCell(el, e[key], format, { stat: key }))),
  ];
}

function evaluationTerms(e) {
  const head = el('tr', {}, ['Term', 'Var(b)/σ²', 'VIF', 'Power'].map((h) => el('th', {}, h)));
  return [el('thead', {}, head), el('tbody', {}, e.coefficients.map((c) => el('tr', { dataset: { term: c.term } },
    el('td', { class: 'label' }, c.term), numberCell(el, c.variance, num, { col: 'variance' }),
    c.vif === null ? el('td', { dataset: { col: 'vif' } }) : numberCell(el, c.vif, (v) => num(v, 4), { col: 'vif' }),
    numberCell(el, c.power, (v) => num(v, 3), { col: 'power' }))))];
}

// The evaluation of the design the definition makes, as `tavrin evaluate` gives it.
async function evaluate(definition, mine) {
  const cell = $('#define .field-error[data-field="evaluation.model"]');
  const model = $('#evaluation-model').value.trim();
  let answer;
  try {
    answer = await api.evaluate({ ...definition, model: model || null });
  } catch (error) {
    if (mine !== generation) return;
    $('#evaluation').hidden = false;
    $('#evaluation-stats').replaceChildren();
    $('#evaluation-terms').replaceChildren();
    $('#evaluation-summary').textContent = '';
    cell.textContent = error.message;
    return;
  }
  if (mine !== generation) return;
  const e = answer.evaluation;
  cell.textContent = '';
  $('#evaluation').hidden = false;
  $('#evaluation-summary').textContent = `Model ${e.model}: ${e.runs} runs` +
    (definition.seed === null ? ' (drawn with a random seed, as the plan will draw its own: give a seed to evaluate the very runs it makes)' : '') +
    '. Power: of a two-sided t test at 5 % to detect a coefficient of 1 coded unit with σ 1.';
  $('#evaluation-stats').replaceChildren(...evaluationStats(e));
  $('#evaluation-terms').replaceChildren(...evaluationTerms(e));
}

// Shows the options the chosen design takes and what it supports.
function showDesign() {
  const design = designs.get($('#design').value);
  for (const option of $$('#design-options .option'))
    option.hidden = !design?.options.includes(option.dataset.option);
  $('#option-alpha-value').parentElement.hidden = $('#option-alpha').value !== 'value';
  $('#design-summary').textContent = design ? `${design.summary}; for ${countsText(design.factorCounts)} factors.` : '';
}

// "1-7, 9-12, 16" from a list of counts.
function countsText(counts) {
  const parts = [];
  for (let i = 0; i < counts.length;) {
    let j = i;
    while (j + 1 < counts.length && counts[j + 1] === counts[j] + 1) ++j;
    parts.push(j > i ? `${counts[i]}–${counts[j]}` : String(counts[i]));
    i = j + 1;
  }
  return parts.join(', ');
}

// Fills the design list and the option choices from the library's registry.
export async function loadDesigns() {
  const registry = await api.designs();
  designs.clear();
  for (const d of registry.designs) designs.set(d.name, d);
  $('#design').replaceChildren(...registry.designs.map((d) => el('option', { value: d.name }, d.name)));
  $('#option-alpha').replaceChildren(el('option', { value: '' }, 'default'),
    ...registry.alpha.map((a) => el('option', { value: a }, a)), el('option', { value: 'value' }, 'a value…'));
  $('#option-criterion').replaceChildren(el('option', { value: '' }, 'default'),
    ...registry.criterion.map((c) => el('option', { value: c }, c)));
  showDesign();
}

// The form's option fields from a study's recipe (a Box-Behnken or
// Rechtschaffner design keeps its centre runs as extra centre runs).
function fillOptions(study) {
  const o = study?.recipe?.options ?? {};
  const alpha = o.alpha ?? '';
  const named = typeof alpha === 'string';
  $('#option-alpha').value = named ? alpha : 'value';
  $('#option-alpha-value').value = named ? '' : String(alpha);
  $('#option-inscribed').checked = o.inscribed === true;
  const centre = o.centerRuns ?? (study?.extraCenterRuns || undefined);
  for (const [name, value] of [['center-runs', centre], ['axial-center-runs', o.axialCenterRuns], ['blocks', o.blocks],
    ['fraction', o.fraction], ['runs', o.runs]])
    $(`#option-${name}`).value = value === undefined ? '' : String(value);
  $('#option-levels').value = o.levels === undefined ? '' : String(o.levels);
  $('#option-model').value = o.model ?? '';
  $('#option-criterion').value = o.criterion ?? '';
  $('#option-constraint').value = (study?.constraintTexts ?? []).join('\n');
}

// Fills the form with a study's definition (or the example's when none).
export function fillDefinition(study, onEdit) {
  $('#factor-table tbody').replaceChildren();
  $('#response-table tbody').replaceChildren();
  const factors = study?.factors ?? [{}, {}];
  const responses = study?.responses ?? [{}];
  factors.forEach((f) => addFactor(f, onEdit));
  responses.forEach((r) => addResponse(r, onEdit));
  $('#design').value = designs.has(study?.design) ? study.design : 'box-behnken';
  $('#seed').value = study?.seedText ?? '';
  fillOptions(study);
  showDesign();
}

export function setupDefinition({ onCreated, hasResults }) {
  let timer = 0;
  // Busy from an edit until its check and evaluation are shown; a check
  // still running for an earlier edit no longer counts.
  const onEdit = () => {
    generation += 1;
    $('#define').setAttribute('aria-busy', 'true');
    clearTimeout(timer);
    timer = setTimeout(validate, 150);
  };
  $('#define').addEventListener('input', onEdit);
  $('#define').addEventListener('change', onEdit);
  $('#design').addEventListener('change', showDesign);
  $('#option-alpha').addEventListener('change', showDesign);
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
