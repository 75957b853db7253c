// Steps 2 and 3: the run sheet in execution order, with each run's block
// and origin, its actual settings where they differ from the planned ones,
// and a cell per result. A cell is sent when it changes; a refused value is
// put back and the layer's message shown.
import { api } from './api.js';
import { $, $$, el, notify, readFile } from './dom.js';
import { num, parseNumber, withUnit } from './format.js';

// Shows the stored result; the text typed in a focused cell is left alone.
function showResult(input, value) {
  input.dataset.stored = value === null ? '' : String(value);
  input.classList.toggle('missing', value === null);
  if (document.activeElement !== input) input.value = input.dataset.stored;
}

function resultInput(run, response, value, onStudy) {
  const input = el('input', {
    placeholder: 'missing',
    inputmode: 'decimal',
    dataset: { run: String(run.run), response: response.name },
    'aria-label': `Run ${run.run}, ${response.name}`,
  });
  showResult(input, value);
  input.addEventListener('change', async () => {
    const cell = input.parentElement;
    const entered = parseNumber(input.value);
    const restore = () => { input.value = input.dataset.stored; };
    // Nothing to send when the cell holds what is stored (a change event on
    // leaving a cell whose value was already sent).
    if (entered === parseNumber(input.dataset.stored)) return;
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

// The table's layout: the same layout is updated in place, so that a reply
// arriving while the user types in another cell does not rebuild it.
const layoutOf = (study) => JSON.stringify([study.factors, study.responses,
  study.runs.map((r) => [r.run, r.block, r.origin, r.actual])]);

// A factor's setting: the planned one, or the actual one marked with the
// planned beneath when the run was made elsewhere.
function settingCell(run, factor) {
  const planned = run.settings[factor.name];
  const actual = run.actual[factor.name];
  const dataset = { factor: factor.name, planned: String(planned), actual: String(actual) };
  if (actual === planned) return el('td', { dataset }, num(planned, 8));
  return el('td', { class: 'deviates', dataset, title: `Made at ${actual}; planned ${planned}` },
    num(actual, 8), el('small', {}, `planned ${num(planned, 8)}`));
}

export function renderRuns(study, onStudy) {
  const table = $('#run-table');
  if (!study) {
    table.replaceChildren();
    delete table.dataset.layout;
    $('#missing-count').textContent = 'Create a plan or open a study file first.';
    return;
  }
  showMissingCount(study);
  if (table.dataset.layout === layoutOf(study)) {
    for (const run of study.runs)
      for (const r of study.responses)
        showResult($(`input[data-run="${run.run}"][data-response="${CSS.escape(r.name)}"]`, table), run.results[r.name]);
    return;
  }
  table.dataset.layout = layoutOf(study);
  const head = el('tr', {},
    el('th', {}, 'Order'), el('th', {}, 'Run'), el('th', {}, 'Block'), el('th', {}, 'Origin'),
    study.factors.map((f) => el('th', { dataset: { factor: f.name } }, withUnit(f.name, f.unit))),
    study.responses.map((r) => el('th', {}, withUnit(r.name, r.unit))));
  const rows = study.runs.map((run) => el('tr', { dataset: { run: String(run.run) } },
    el('td', {}, run.order), el('td', {}, run.run),
    el('td', { dataset: { block: String(run.block) } }, run.block), el('td', { dataset: { origin: run.origin } }, run.origin),
    study.factors.map((f) => settingCell(run, f)),
    study.responses.map((r) => el('td', {}, resultInput(run, r, run.results[r.name], onStudy)))));
  table.replaceChildren(el('thead', {}, head), el('tbody', {}, rows));
}

function showMissingCount(study) {
  const missing = study.missing.length;
  const cells = study.runs.length * study.responses.length;
  $('#missing-count').textContent = missing === 0
    ? `All ${cells} results entered.`
    : `${missing} of ${cells} results missing.`;
}

export function setupRuns(onStudy) {
  $('#upload-results').addEventListener('change', async (event) => {
    const file = await readFile(event.target);
    if (file === null) return;
    try {
      const reply = await api.enterResultsCsv(file.text, file.name, $('#record-actual').checked);
      $('#runs-error').textContent = '';
      onStudy(reply.study);
      notify(`Results read from ${file.name}.`);
    } catch (error) {
      $('#runs-error').textContent = error.message;
    }
  });
}
