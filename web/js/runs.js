// Steps 2 and 3: the run sheet in execution order, with a cell per result.
// A cell is sent when it changes; a refused value is put back and the
// layer's message shown.
import { api } from './api.js';
import { $, $$, el, notify, readFile } from './dom.js';
import { num, parseNumber, withUnit } from './format.js';

function resultInput(run, response, value, onStudy) {
  const input = el('input', {
    value: value === null ? '' : String(value),
    placeholder: 'missing',
    inputmode: 'decimal',
    class: value === null ? 'missing' : null,
    dataset: { run: String(run.run), response: response.name },
    'aria-label': `Run ${run.run}, ${response.name}`,
  });
  input.addEventListener('change', async () => {
    const cell = input.parentElement;
    const entered = parseNumber(input.value);
    const restore = () => { input.value = value === null ? '' : String(value); };
    if (Number.isNaN(entered)) {
      cell.classList.add('refused');
      $('#runs-error').textContent = `Run ${run.run}, ${response.name}: "${input.value.trim()}" is not a number; leave the cell empty for a missing result.`;
      restore();
      return;
    }
    try {
      const reply = await api.enterResults([{ run: run.run, response: response.name, value: entered }]);
      cell.classList.remove('refused');
      $('#runs-error').textContent = '';
      onStudy(reply.study);
    } catch (error) {
      cell.classList.add('refused');
      $('#runs-error').textContent = error.message;
      restore();
    }
  });
  // Enter moves down the column, as in a spreadsheet.
  input.addEventListener('keydown', (event) => {
    if (event.key !== 'Enter') return;
    const column = $$(`#run-table input[data-response="${CSS.escape(response.name)}"]`);
    const next = column[column.indexOf(input) + 1];
    input.dispatchEvent(new Event('change'));
    next?.focus();
  });
  return input;
}

export function renderRuns(study, onStudy) {
  const table = $('#run-table');
  if (!study) {
    table.replaceChildren();
    $('#missing-count').textContent = 'Create a plan or open a study file first.';
    return;
  }
  const head = el('tr', {},
    el('th', {}, 'Order'), el('th', {}, 'Run'),
    study.factors.map((f) => el('th', {}, withUnit(f.name, f.unit))),
    study.responses.map((r) => el('th', {}, withUnit(r.name, r.unit))));
  const rows = study.runs.map((run) => el('tr', {},
    el('td', {}, run.order), el('td', {}, run.run),
    study.factors.map((f) => el('td', {}, num(run.settings[f.name], 8))),
    study.responses.map((r) => el('td', {}, resultInput(run, r, run.results[r.name], onStudy)))));
  table.replaceChildren(el('thead', {}, head), el('tbody', {}, rows));
  const missing = study.missing.length;
  const cells = study.runs.length * study.responses.length;
  $('#missing-count').textContent = missing === 0
    ? `All ${cells} results entered.`
    : `${missing} of ${cells} results missing.`;
}

export function setupRuns(onStudy) {
  $('#upload-results').addEventListener('change', async (event) => {
    const text = await readFile(event.target);
    if (text === null) return;
    try {
      const reply = await api.enterResultsCsv(text);
      $('#runs-error').textContent = '';
      onStudy(reply.study);
      notify('Results read from the CSV file.');
    } catch (error) {
      $('#runs-error').textContent = error.message;
    }
  });
}
