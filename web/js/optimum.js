// Step 5: goals per response, the optima and the robustness of the best.
import { api } from './api.js';
import { $, el } from './dom.js';
import { num, numberCell, parseNumber, withUnit } from './format.js';
import { drawContour, optimumMarkers } from './plots.js';

const kinds = [['', 'none'], ['maximize', 'maximize'], ['minimize', 'minimize'], ['target', 'target'], ['within', 'within']];

// Rebuilt only when the responses change, so that entering results does
// not take the goals being typed.
export function renderGoalTable(study) {
  const table = $('#goal-table');
  const layout = JSON.stringify(study.responses);
  if (table.dataset.layout === layout) return;
  table.dataset.layout = layout;
  const previous = readRows();
  $('#goal-table tbody').replaceChildren(...study.responses.map((r) => {
    const old = previous.get(r.name) ?? {};
    const field = (name, title) => el('td', {}, el('input', { name, value: old[name] ?? '', inputmode: 'decimal', title, placeholder: 'auto' }));
    return el('tr', { dataset: { response: r.name } },
      el('td', { class: 'label' }, withUnit(r.name, r.unit)),
      el('td', {}, el('select', { name: 'kind' }, kinds.map(([value, text]) => el('option', { value, selected: old.kind === value }, text)))),
      field('low', 'Where the desirability starts (maximize, target) or ends (minimize)'),
      field('target', 'Target value (target goals)'),
      field('high', 'Where the desirability ends (maximize) or starts (minimize, target)'),
      el('td', {}, el('input', { name: 'importance', value: old.importance ?? '1', inputmode: 'decimal' })),
      el('td', {}, el('input', { name: 'atLeast', value: old.atLeast ?? '', inputmode: 'decimal', placeholder: 'no limit' })),
      el('td', {}, el('input', { name: 'atMost', value: old.atMost ?? '', inputmode: 'decimal', placeholder: 'no limit' })));
  }));
  $('#sigma-inputs').replaceChildren(...study.responses.map((r) => el('label', {}, `σ of ${r.name}`,
    el('input', { name: r.name, placeholder: 'from residuals', inputmode: 'decimal', size: 10 }))));
  const names = study.responses.map((r) => r.name);
  const cloud = $('#cloud-response');
  const current = cloud.value;
  cloud.replaceChildren(...names.map((n) => el('option', { value: n }, n)));
  cloud.value = names.includes(current) ? current : names[0];
}

function readRows() {
  const rows = new Map();
  for (const row of $('#goal-table tbody').children) {
    const values = {};
    for (const input of row.querySelectorAll('input, select')) values[input.name] = input.value;
    rows.set(row.dataset.response, values);
  }
  return rows;
}

// The request in the schema of the command line's goals; a field the page
// cannot read as a number throws with its name.
export function readRequest() {
  const number = (text, what) => {
    const value = parseNumber(text);
    if (Number.isNaN(value)) throw new Error(`${what}: "${text.trim()}" is not a number`);
    return value;
  };
  const goals = [];
  const constraints = [];
  for (const [response, v] of readRows()) {
    if (v.kind) {
      goals.push({
        response, kind: v.kind,
        low: number(v.low, `${response} low`), high: number(v.high, `${response} high`),
        target: number(v.target, `${response} target`), importance: number(v.importance, `${response} importance`) ?? 1,
      });
    }
    const low = number(v.atLeast, `${response} must stay ≥`);
    const high = number(v.atMost, `${response} must stay ≤`);
    if (low !== null || high !== null) constraints.push({ response, low, high });
  }
  const request = { goals: { goals, constraints }, points: number($('#search-points').value, 'search points') };
  if ($('#robust').checked) {
    const sigma = {};
    for (const input of $('#sigma-inputs').querySelectorAll('input')) {
      const value = number(input.value, `σ of ${input.name}`);
      if (value !== null) sigma[input.name] = value;
    }
    request.robust = { replicates: number($('#replicates').value, 'replicates'), seed: number($('#robust-seed').value, 'seed'), sigma };
  }
  return request;
}

function optimaTable(study, optimum) {
  const head = el('tr', {}, el('th', {}, 'Rank'),
    study.factors.map((f) => el('th', {}, withUnit(f.name, f.unit))),
    study.responses.map((r) => el('th', {}, withUnit(r.name, r.unit))),
    study.responses.map((r) => el('th', {}, `d(${r.name})`)),
    el('th', {}, 'Overall'), el('th', {}, 'Active limits'));
  const rows = optimum.candidates.map((c) => el('tr', { dataset: { rank: String(c.rank) } },
    el('td', { class: 'label' }, c.rank),
    study.factors.map((f) => numberCell(el, c.settings[f.name], (v) => num(v, 6), { factor: f.name })),
    study.responses.map((r) => {
      const p = c.predictions[r.name];
      const cell = numberCell(el, p.value, (v) => num(v, 6), { response: r.name });
      cell.title = `prediction interval ${num(p.predictionLow)} .. ${num(p.predictionHigh)}`;
      return cell;
    }),
    study.responses.map((r) => (c.desirability[r.name] === null ? el('td', { class: 'na' }, 'no goal') : numberCell(el, c.desirability[r.name], (v) => num(v, 4)))),
    numberCell(el, c.overall, (v) => num(v, 4), { overall: '' }),
    el('td', { class: 'label' }, c.activeConstraints.join('; ') || '—')));
  return [el('thead', {}, head), el('tbody', {}, rows)];
}

function percentileTable(caption, percentiles, rows) {
  return [el('caption', {}, caption),
    el('tr', {}, el('th', {}, ''), percentiles.map((p) => el('th', {}, `P${p}`)), rows.extra ? rows.extra.map((h) => el('th', {}, h)) : []),
    ...rows.list.map(([label, values, extra]) => el('tr', {}, el('td', { class: 'label' }, label),
      values.map((v) => numberCell(el, v)), (extra ?? []).map((v) => el('td', {}, v))))];
}

function renderRobustness(study, robustness) {
  const bound = (c) => (c.low === null ? `${c.response} ≤ ${num(c.high)}` : c.high === null ? `${c.response} ≥ ${num(c.low)}` : `${num(c.low)} ≤ ${c.response} ≤ ${num(c.high)}`);
  $('#constraint-probability').replaceChildren(el('caption', {}, `Probability that each limit is met (${robustness.replicates} replicates${robustness.failedReplicates ? `, ${robustness.failedReplicates} without an admissible point` : ''})`),
    ...(robustness.constraints.length
      ? robustness.constraints.map((c) => el('tr', {}, el('td', { class: 'label' }, bound(c)), numberCell(el, c.probability, (v) => num(v, 3), { constraint: c.response })))
      : [el('tr', {}, el('td', { class: 'label na' }, 'no limits were set'))]));
  $('#setting-percentiles').replaceChildren(...percentileTable('Where the optimum moves', robustness.percentiles, {
    list: study.factors.map((f) => [withUnit(f.name, f.unit), robustness.settingPercentiles[f.name]]),
  }));
  $('#prediction-percentiles').replaceChildren(...percentileTable('Predictions at the optimum', robustness.percentiles, {
    extra: ['σ used'],
    list: study.responses.map((r) => [r.name, robustness.predictionPercentiles[r.name].percentiles,
      [`${num(robustness.sigma[r.name].value, 4)} (${robustness.sigma[r.name].source})`]]),
  }));
}

// The window around the cloud: its extent with as much again on each side,
// at least 5 % of the factor's range, within the range.
function windowAround(values, factor) {
  const lo = Math.min(...values);
  const hi = Math.max(...values);
  const pad = Math.max(hi - lo, 0.05 * (factor.high - factor.low));
  return [Math.max(factor.low, lo - pad), Math.min(factor.high, hi + pad)];
}

// The boundary of each hard limit, as a dashed line on the plot.
async function limitLines(result, axes, at) {
  const lines = [];
  for (const c of result.goals.constraints) {
    const surface = await api.surface({ response: c.response, x: axes.x, y: axes.y, at, steps: 101 });
    for (const level of [c.low, c.high].filter((v) => v !== null)) {
      lines.push({
        type: 'contour', x: surface.x.values, y: surface.y.values, z: surface.z, name: `${c.response} = ${num(level)}`,
        showscale: false, hoverinfo: 'skip', showlegend: true,
        contours: { coloring: 'none', start: level, end: level, size: 1, showlabels: true, labelfont: { color: '#fff' } },
        line: { color: '#ff4d4f', width: 2, dash: 'dash' },
      });
    }
  }
  return lines;
}

// The cloud of relocated optima over the surface, on the fit section's
// axes, zoomed to the cloud, with the boundaries of the hard limits.
async function drawCloud(study, result, axes) {
  const best = result.optimum.candidates[0];
  const surface = await api.surface({ response: $('#cloud-response').value, x: axes.x, y: axes.y, at: best.settings, steps: 101 });
  const optima = result.robustness.optima;
  const cloud = {
    type: 'scatter', mode: 'markers', name: 'relocated optima', x: optima[axes.x], y: optima[axes.y],
    marker: { size: 5, color: 'rgba(255,255,255,0.8)', line: { color: '#222', width: 0.7 } }, hoverinfo: 'x+y',
  };
  const nominal = optimumMarkers({ candidates: [best] }, axes.x, axes.y).map((t) => ({ ...t, name: 'optimum', marker: { ...t.marker, symbol: 'star-open', color: '#ff4d4f', line: { width: 2.5, color: '#ff4d4f' } } }));
  const factor = (name) => study.factors.find((f) => f.name === name);
  const window = { x: windowAround(optima[axes.x], factor(axes.x)), y: windowAround(optima[axes.y], factor(axes.y)) };
  await drawContour($('#cloud'), surface, study.factors, [...await limitLines(result, axes, best.settings), cloud, ...nominal],
    `Relocated optima over ${surface.response} (zoomed)`, window);
}

// The input a refusal of `request` is about, from the layer's field path:
// goals[k] and constraints[k] name the k-th goal or limit sent.
function inputOf(request, field) {
  const m = /^(goals|constraints)\[(\d+)\](?:\.(\w+))?$/.exec(field);
  if (!m) return null;
  const sent = (m[1] === 'goals' ? request.goals.goals : request.goals.constraints)[Number(m[2])];
  const row = sent && $(`#goal-table tr[data-response="${CSS.escape(sent.response)}"]`);
  if (!row) return null;
  const name = m[1] === 'goals'
    ? (['low', 'high', 'target', 'importance'].includes(m[3]) ? m[3] : 'kind')
    : (m[3] === 'low' ? 'atLeast' : 'atMost');
  return row.querySelector(`[name=${name}]`);
}

export function setupOptimum({ getStudy, getAxes, onOptimum }) {
  let last = null;
  $('#cloud-response').addEventListener('change', () => {
    if (last?.robustness) drawCloud(getStudy(), last, getAxes()).catch((e) => { $('#optimum-error').textContent = e.message; });
  });
  $('#find-optimum').addEventListener('click', async () => {
    const study = getStudy();
    $('#optimum-error').textContent = '';
    for (const input of $('#goal-table').querySelectorAll('.invalid')) input.classList.remove('invalid');
    let request;
    try {
      request = readRequest();
    } catch (error) {
      $('#optimum-error').textContent = error.message;
      return;
    }
    $('#optimum-status').textContent = request.robust ? 'Searching and replicating…' : 'Searching…';
    $('#find-optimum').disabled = true;
    try {
      const result = await api.optimize(request);
      last = result;
      $('#optimum-status').textContent = `${result.optimum.admissiblePoints} of ${result.optimum.pointsSearched} points admissible.`;
      $('#optima').replaceChildren(...optimaTable(study, result.optimum));
      $('#optimum-body').hidden = false;
      $('#robustness-body').hidden = !result.robustness;
      onOptimum(result.optimum);
      if (result.robustness) {
        renderRobustness(study, result.robustness);
        if (study.factors.length >= 2) await drawCloud(study, result, getAxes());
      }
    } catch (error) {
      $('#optimum-status').textContent = '';
      $('#optimum-error').textContent = error.message;
      inputOf(request, error.field ?? '')?.classList.add('invalid');
    } finally {
      $('#find-optimum').disabled = false;
    }
  });
  return { clear: () => { last = null; $('#optimum-body').hidden = true; $('#optimum-status').textContent = ''; } };
}
