// The figures of the views other than the profiler, each from one plot
// JSON answer (/api/plot): the sweet-spot overlay, the 3-D surface, the
// interaction plot, the residual panels, the Box-Cox profile, the FDS plot
// and the robustness cloud. They draw the numbers as given and compute none.
import { withUnit, num } from './format.js';
import { PALETTE, SCALE, SWEET, config, font } from './palette.js';

const axisOf = (a) => ({ title: { text: withUnit(a.name, a.unit) }, zeroline: false });
const titled = (text) => ({ text, font: { size: 13 }, x: 0.01, xanchor: 'left' });
const base = (title) => ({ font, title: titled(title), margin: { l: 70, r: 20, t: 44, b: 56 }, legend: { orientation: 'h', y: -0.2 } });
const heldText = (held, skip) => {
  const others = Object.entries(held).filter(([k]) => !skip.includes(k));
  return others.length ? ` at ${others.map(([k, v]) => `${k} = ${num(v)}`).join(', ')}` : '';
};

function runMarkers(runs, name = 'runs') {
  return { type: 'scatter', mode: 'markers', name, x: runs.map((r) => r.x), y: runs.map((r) => r.y),
    text: runs.map((r) => `run ${r.runId}`), hoverinfo: 'text+x+y', cliponaxis: false,
    marker: { color: '#fff', size: 9, line: { color: '#111', width: 1.5 } } };
}

// Limits as dashed contour lines at their level, the all-hold mask shaded.
export function overlayTraces(data) {
  // The mask as a filled contour at one half: its edge runs between the
  // grid points where the limits stop holding.
  const traces = [{
    type: 'contour', name: 'all limits hold', x: data.x.values, y: data.y.values, z: data.feasible, showlegend: true,
    contours: { coloring: 'fill', start: 0.5, end: 0.5, size: 1 }, colorscale: [[0, 'rgba(0,0,0,0)'], [1, SWEET]],
    zmin: 0, zmax: 1, showscale: false, line: { width: 0 }, hoverinfo: 'skip',
  }];
  for (const [k, limit] of data.limits.entries()) {
    const color = PALETTE[k % PALETTE.length];
    traces.push({
      type: 'contour', name: `${limit.response} ${limit.side === 'low' ? '≥' : '≤'} ${num(limit.level)}${limit.unit ? ` ${limit.unit}` : ''}`,
      x: data.x.values, y: data.y.values, z: limit.z, showscale: false, showlegend: true,
      contours: { coloring: 'none', start: limit.level, end: limit.level, size: 1, showlabels: true },
      line: { color, dash: 'dash', width: 2 }, hoverinfo: 'skip',
    });
  }
  traces.push(runMarkers(data.runs));
  if (data.optimum)
    traces.push({ type: 'scatter', mode: 'markers', name: 'optimum', x: [data.optimum[data.x.name]], y: [data.optimum[data.y.name]],
      marker: { symbol: 'star', size: 18, color: PALETTE[3], line: { color: '#000', width: 1 } }, cliponaxis: false });
  return traces;
}

export function drawOverlay(div, data) {
  const layout = base(`Sweet spot: every limit holds on ${Math.round(100 * data.feasibleFraction)} % of the slice${heldText(data.held, [data.x.name, data.y.name])}`);
  Object.assign(layout, { xaxis: axisOf(data.x), yaxis: axisOf(data.y) });
  return Plotly.react(div, overlayTraces(data), layout, config);
}

export function drawSurface(div, data) {
  const unit = withUnit(data.response, data.unit);
  const traces = [
    { type: 'surface', name: `fitted ${data.response}`, x: data.x.values, y: data.y.values, z: data.z, colorscale: SCALE, opacity: 0.9,
      colorbar: { title: { text: unit, side: 'right' } } },
    { type: 'scatter3d', mode: 'markers', name: 'runs', x: data.runs.map((r) => r.x), y: data.runs.map((r) => r.y),
      z: data.runs.map((r) => r.observed), text: data.runs.map((r) => `run ${r.runId}`),
      marker: { size: 4, color: PALETTE[3], line: { color: '#000', width: 1 } } },
  ];
  const layout = base(`Fitted ${data.response}${heldText(data.held, [data.x.name, data.y.name])}`);
  layout.scene = { xaxis: { title: { text: withUnit(data.x.name, data.x.unit) } }, yaxis: { title: { text: withUnit(data.y.name, data.y.unit) } },
    zaxis: { title: { text: unit } } };
  return Plotly.react(div, traces, layout, config);
}

export function drawInteraction(div, data) {
  const by = data.by;
  const label = (v) => `${by.name} = ${num(v)}${by.unit ? ` ${by.unit}` : ''}`;
  const traces = [
    { type: 'scatter', mode: 'lines', name: label(by.low), x: data.x, y: data.atLow, line: { color: PALETTE[0], width: 2 } },
    { type: 'scatter', mode: 'lines', name: label(by.high), x: data.x, y: data.atHigh, line: { color: PALETTE[1], width: 2, dash: 'dash' } },
  ];
  const layout = base(`Interaction of ${data.factor.name} and ${by.name} on ${data.response} (lines that are not parallel interact)`);
  Object.assign(layout, { xaxis: axisOf(data.factor), yaxis: { title: { text: `fitted ${withUnit(data.response, data.unit)}` } } });
  return Plotly.react(div, traces, layout, config);
}

// Normal probability, run order, fitted values and each factor; outliers
// in vermilion, labelled with their run id.
export function drawResiduals(div, data) {
  const panels = [['normal score', (r) => r.normalScore], ['run order', (r) => r.order],
    [`fitted ${withUnit(data.response, data.unit)}`, (r) => r.fitted],
    ...data.factors.map((f) => [withUnit(f.name, f.unit), (r) => r.settings[f.name]])];
  const cols = 3;
  const rows = Math.ceil(panels.length / cols);
  const layout = { font, showlegend: false, margin: { l: 60, r: 16, t: 44, b: 50 }, title: titled(`Residuals of ${data.response}`),
    grid: { rows, columns: cols, pattern: 'independent', xgap: 0.1, ygap: 0.32 } };
  const traces = [];
  for (const [k, [title, x]] of panels.entries()) {
    const s = k === 0 ? '' : String(k + 1);
    layout[`xaxis${s}`] = { title: { text: title }, zeroline: false };
    layout[`yaxis${s}`] = { title: { text: k % cols === 0 ? withUnit('residual', data.unit) : '' }, zeroline: k !== 0 };
    const plain = data.runs.filter((r) => !r.outlier);
    const outliers = data.runs.filter((r) => r.outlier);
    traces.push({ type: 'scatter', mode: 'markers', name: 'runs', xaxis: `x${s}`, yaxis: `y${s}`, x: plain.map(x), y: plain.map((r) => r.residual),
      text: plain.map((r) => `run ${r.runId}`), hoverinfo: 'text+x+y', marker: { color: PALETTE[0], size: 7, line: { color: '#000', width: 0.5 } } });
    traces.push({ type: 'scatter', mode: 'markers+text', name: 'outliers', xaxis: `x${s}`, yaxis: `y${s}`, x: outliers.map(x),
      y: outliers.map((r) => r.residual), text: outliers.map((r) => `run ${r.runId}`), textposition: 'top right',
      marker: { color: PALETTE[3], size: 9, symbol: 'diamond', line: { color: '#000', width: 1 } } });
  }
  div.style.height = `${Math.max(380, 330 * rows + 60)}px`;
  return Plotly.react(div, traces, layout, config);
}

// The profile log-likelihood of the Box-Cox power: the 95 % interval is
// where it stays above the dotted cut; the green line is the power the
// library recommends.
export function drawBoxCox(div, data) {
  const traces = [
    { type: 'scatter', mode: 'lines', name: 'profile log-likelihood', x: data.lambda, y: data.logLikelihood, line: { color: PALETTE[0], width: 2 } },
    { type: 'scatter', mode: 'lines', name: `95 % interval ${num(data.lower, 3)} .. ${num(data.upper, 3)}`, x: [data.lower, data.upper],
      y: [data.cut, data.cut], line: { color: '#000', width: 3, dash: 'dot' } },
    { type: 'scatter', mode: 'markers', name: `λ = ${num(data.best, 3)}`, x: [data.best], y: [data.bestLogLikelihood],
      marker: { color: PALETTE[3], size: 10, line: { color: '#000', width: 1 } } },
  ];
  const layout = base(`Box-Cox profile of ${data.response} (${data.model} model): recommended transform ${data.recommendation}`);
  Object.assign(layout, {
    xaxis: { title: { text: 'Box-Cox power λ' }, zeroline: false }, yaxis: { title: { text: 'log-likelihood (up to a constant)' } },
    shapes: [{ type: 'line', name: 'recommended', xref: 'x', yref: 'paper', x0: data.recommended, x1: data.recommended, y0: 0, y1: 1,
      line: { color: PALETTE[2], width: 2 } }],
  });
  return Plotly.react(div, traces, layout, config);
}

// The FDS curve, and beside it how strongly the model's columns correlate
// over the runs (0 on the diagonal's neighbours is what a design aims at).
export function drawFds(div, data) {
  const terms = data.terms.slice(1);
  const traces = [
    { type: 'scatter', mode: 'lines', name: 'scaled prediction variance', x: data.fractions, y: data.spv, line: { color: PALETTE[0], width: 2 } },
    { type: 'scatter', mode: 'lines', name: `mean over the region ${num(data.meanSpv, 4)}`, x: [0, 1], y: [data.meanSpv, data.meanSpv],
      line: { color: PALETTE[1], dash: 'dash' } },
    { type: 'heatmap', name: 'term correlations', x: terms, y: terms, z: data.correlations.slice(1).map((row) => row.slice(1)),
      zmin: -1, zmax: 1, colorscale: 'RdBu', xaxis: 'x2', yaxis: 'y2', colorbar: { title: { text: 'correlation', side: 'right' }, x: 1.02 },
      hovertemplate: '%{x} with %{y}: %{z:.3f}<extra></extra>' },
  ];
  const layout = base('Design: prediction variance over the region, and the correlation of the model terms');
  Object.assign(layout, {
    grid: { rows: 1, columns: 2, pattern: 'independent', xgap: 0.15 },
    xaxis: { title: { text: 'fraction of the design space' }, range: [0, 1] }, yaxis: { title: { text: 'scaled prediction variance' } },
    xaxis2: { tickangle: -45, automargin: true }, yaxis2: { autorange: 'reversed', automargin: true },
  });
  return Plotly.react(div, traces, layout, config);
}

export function drawRobustness(div, data) {
  const traces = data.overlay ? overlayTraces(data.overlay).filter((t) => t.name !== 'runs' && t.name !== 'optimum') : [];
  const b = data.box;
  traces.push(
    { type: 'scatter', mode: 'markers', name: 'relocated optima', x: data.cloud.x, y: data.cloud.y, marker: { color: PALETTE[0], size: 4, opacity: 0.5 } },
    { type: 'scatter', mode: 'lines', name: `p${b.lowPercentile}..p${b.highPercentile}`, x: [b.lowX, b.highX, b.highX, b.lowX, b.lowX],
      y: [b.lowY, b.lowY, b.highY, b.highY, b.lowY], line: { color: '#000', dash: 'dash' } },
    { type: 'scatter', mode: 'markers', name: 'nominal optimum', x: [data.nominal.x], y: [data.nominal.y],
      marker: { symbol: 'star', size: 18, color: PALETTE[3], line: { color: '#000', width: 1 } } });
  const layout = base(`Robustness: the optimum relocated in ${data.replicates - data.failedReplicates} of ${data.replicates} simulated repeats`);
  Object.assign(layout, { xaxis: axisOf(data.x), yaxis: axisOf(data.y) });
  return Plotly.react(div, traces, layout, config);
}
