// The plots: the fitted surface over two factors with the others on
// sliders, and the residual plots. The surface is computed by the server
// (/api/surface), which alone knows the model's terms.
import { api } from './api.js';
import { $, el } from './dom.js';
import { num, withUnit } from './format.js';

const config = { displaylogo: false, responsive: true, modeBarButtonsToRemove: ['select2d', 'lasso2d'] };
const font = { family: 'system-ui, sans-serif', size: 12 };

function axisTitle(factor) {
  return { title: { text: withUnit(factor.name, factor.unit) }, range: [factor.low, factor.high], zeroline: false };
}

// A contour of `surface` (an /api/surface answer) with marker traces on
// top; `window` ({x: [lo, hi], y: [lo, hi]}) zooms in.
export function drawContour(div, surface, factors, markers, title, window = null) {
  const fx = factors.find((f) => f.name === surface.x.factor);
  const fy = factors.find((f) => f.name === surface.y.factor);
  const contour = {
    type: 'contour', x: surface.x.values, y: surface.y.values, z: surface.z,
    colorscale: 'Viridis', contours: { coloring: 'heatmap', showlabels: true, labelfont: { color: '#fff', size: 11 } },
    colorbar: { title: { text: surface.response, side: 'right' } }, hovertemplate: `${fx.name} %{x}<br>${fy.name} %{y}<br>${surface.response} %{z:.4g}<extra></extra>`,
  };
  const layout = {
    title: { text: title, font: { size: 14 }, x: 0.01, xanchor: 'left' }, font, margin: { l: 60, r: 20, t: 40, b: 50 },
    xaxis: axisTitle(fx), yaxis: axisTitle(fy), legend: { orientation: 'h', y: -0.18 }, showlegend: true,
  };
  if (window) {
    layout.xaxis.range = window.x;
    layout.yaxis.range = window.y;
    // Colours span the values inside the window, not the whole region.
    const inside = (v, [lo, hi]) => v >= lo && v <= hi;
    const seen = surface.z.flatMap((row, j) => (inside(surface.y.values[j], window.y)
      ? row.filter((v, i) => v !== null && inside(surface.x.values[i], window.x)) : []));
    if (seen.length > 1) Object.assign(contour, { zauto: false, zmin: Math.min(...seen), zmax: Math.max(...seen) });
  }
  return Plotly.react(div, [contour, ...markers], layout, config);
}

export function runMarkers(study, x, y) {
  return {
    type: 'scatter', mode: 'markers', name: 'runs',
    x: study.runs.map((r) => r.settings[x]), y: study.runs.map((r) => r.settings[y]),
    text: study.runs.map((r) => `run ${r.run}`), hoverinfo: 'text',
    marker: { color: '#fff', size: 9, line: { color: '#111', width: 1.5 } }, cliponaxis: false,
  };
}

export function optimumMarkers(optimum, x, y) {
  if (!optimum?.candidates?.length) return [];
  const c = optimum.candidates;
  return [{
    type: 'scatter', mode: 'markers', name: 'optima',
    x: c.map((o) => o.settings[x]), y: c.map((o) => o.settings[y]), text: c.map((o) => `optimum ${o.rank}`),
    hoverinfo: 'text', marker: { symbol: 'star', size: c.map((o) => (o.rank === 1 ? 20 : 13)), color: '#ff4d4f', line: { color: '#fff', width: 1 } },
    cliponaxis: false,
  }];
}

// The contour panel of the fit section: response, axes and sliders.
export class ContourPanel {
  constructor() {
    this.div = $('#contour');
    this.revision = 0;
    this.pending = false;
    this.again = false;
    for (const id of ['#contour-response', '#contour-x', '#contour-y'])
      $(id).addEventListener('change', () => this.onAxes());
  }

  // A new study or fit: rebuild the choices, keeping the current ones that still exist.
  setStudy(study, responses, optimum) {
    this.study = study;
    this.optimum = optimum;
    const keep = (select, names, fallback) => {
      const current = select.value;
      select.replaceChildren(...names.map((n) => el('option', { value: n }, n)));
      select.value = names.includes(current) ? current : fallback;
    };
    const names = study.factors.map((f) => f.name);
    keep($('#contour-response'), responses, responses[0]);
    keep($('#contour-x'), names, names[0]);
    keep($('#contour-y'), names, names[1] ?? names[0]);
    if ($('#contour-x').value === $('#contour-y').value && names.length > 1)
      $('#contour-y').value = names.find((n) => n !== $('#contour-x').value);
    this.at = Object.fromEntries(study.factors.map((f) => [f.name, this.at?.[f.name] ?? (f.low + f.high) / 2]));
    this.buildSliders();
    this.draw();
  }

  setOptimum(optimum) {
    this.optimum = optimum;
    this.draw();
  }

  onAxes() {
    if ($('#contour-x').value === $('#contour-y').value) {
      const other = this.study.factors.find((f) => f.name !== $('#contour-x').value);
      if (other) $('#contour-y').value = other.name;
    }
    this.buildSliders();
    this.draw();
  }

  axes() {
    return { response: $('#contour-response').value, x: $('#contour-x').value, y: $('#contour-y').value };
  }

  buildSliders() {
    const { x, y } = this.axes();
    const sliders = this.study.factors.filter((f) => f.name !== x && f.name !== y).map((f) => {
      const output = el('output', {}, num(this.at[f.name]));
      const input = el('input', {
        type: 'range', min: f.low, max: f.high, step: (f.high - f.low) / 200, value: this.at[f.name],
        dataset: { factor: f.name }, 'aria-label': f.name,
      });
      input.addEventListener('input', () => {
        this.at[f.name] = Number(input.value);
        output.textContent = num(this.at[f.name]);
        this.draw();
      });
      return el('label', {}, el('span', {}, `${withUnit(f.name, f.unit)}: `, output), input);
    });
    $('#contour-sliders').replaceChildren(...sliders);
  }

  // One request at a time; a slider moved meanwhile draws once more after it.
  async draw() {
    if (!this.study || this.study.factors.length < 2) return;
    if (this.pending) {
      this.again = true;
      return;
    }
    this.pending = true;
    try {
      const { response, x, y } = this.axes();
      const surface = await api.surface({ response, x, y, at: this.at, steps: 61 });
      const markers = [runMarkers(this.study, x, y), ...optimumMarkers(this.optimum, x, y)];
      const others = this.study.factors.filter((f) => f.name !== x && f.name !== y);
      const title = others.length ? `${response} at ${others.map((f) => `${f.name} = ${num(this.at[f.name])}`).join(', ')}` : response;
      await drawContour(this.div, surface, this.study.factors, markers, title);
      this.revision += 1;
      this.div.dataset.revision = String(this.revision);
      this.div.dataset.at = JSON.stringify(surface.at);
    } catch (error) {
      $('#fit-error').textContent = error.message;
    } finally {
      this.pending = false;
    }
    if (this.again) {
      this.again = false;
      this.draw();
    }
  }
}

// Residuals against fitted values, and predicted against observed.
export function drawResiduals(analysis) {
  const d = analysis.diagnostics;
  const text = d.map((r) => `run ${r.run}`);
  const fitted = d.map((r) => r.fitted);
  const marker = { size: 8, color: '#1f6feb' };
  Plotly.react($('#residuals'), [
    { type: 'scatter', mode: 'markers', x: fitted, y: d.map((r) => r.residual), text, hoverinfo: 'text+x+y', marker },
  ], {
    title: { text: `${analysis.response}: residuals against fitted values`, font: { size: 13 }, x: 0.01, xanchor: 'left' }, font,
    margin: { l: 60, r: 10, t: 40, b: 45 }, xaxis: { title: { text: 'fitted' } }, yaxis: { title: { text: 'residual' }, zeroline: true },
    shapes: [{ type: 'line', xref: 'paper', x0: 0, x1: 1, y0: 0, y1: 0, line: { color: '#999', dash: 'dot' } }],
  }, config);
  const observed = d.map((r) => r.observed);
  const all = [...observed, ...fitted];
  const lo = Math.min(...all);
  const hi = Math.max(...all);
  Plotly.react($('#observed'), [
    { type: 'scatter', mode: 'markers', x: observed, y: fitted, text, hoverinfo: 'text+x+y', marker, name: 'runs' },
    { type: 'scatter', mode: 'lines', x: [lo, hi], y: [lo, hi], line: { color: '#999', dash: 'dot' }, hoverinfo: 'skip', name: 'equal' },
  ], {
    title: { text: `${analysis.response}: predicted against observed`, font: { size: 13 }, x: 0.01, xanchor: 'left' }, font, showlegend: false,
    margin: { l: 60, r: 10, t: 40, b: 45 }, xaxis: { title: { text: 'observed' } }, yaxis: { title: { text: 'predicted' } },
  }, config);
}
