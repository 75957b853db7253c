// The prediction profiler: one panel per response (rows) and factor
// (columns), the response along the factor with its confidence band, every
// other factor held at the setting; a desirability row when goals exist.
// The setting moves with the sliders (keyboard: arrow keys), by dragging a
// panel's dashed line, or by clicking in a panel.
import { withUnit, num } from './format.js';
import { BAND, PALETTE, config, font } from './palette.js';

const suffix = (k) => (k === 0 ? '' : String(k + 1));

// The Plotly figure of a profiler answer (plot JSON, kind "profiler").
export function profilerFigure(data) {
  const factors = data.factors;
  const responses = data.responses;
  const rows = responses.length + (data.desirability.length ? 1 : 0);
  const cols = factors.length;
  const traces = [];
  const shapes = [];
  const layout = {
    font, showlegend: false, margin: { l: 70, r: 16, t: 36, b: 50 },
    grid: { rows, columns: cols, pattern: 'independent', xgap: 0.08, ygap: 0.12 },
    title: { text: data.bandNote ? `No confidence band: ${data.bandNote}` : `Profiler with ${Math.round(data.confidence * 100)} % confidence bands`, font: { size: 13 }, x: 0.01, xanchor: 'left' },
  };
  const panel = (row, col, ys, title) => {
    const k = row * cols + col;
    const s = suffix(k);
    const x = factors[col];
    layout[`xaxis${s}`] = { range: [x.low, x.high], zeroline: false, title: row === rows - 1 ? { text: withUnit(x.name, x.unit) } : undefined };
    layout[`yaxis${s}`] = { zeroline: false, title: col === 0 ? { text: title } : undefined, matches: col === 0 ? undefined : `y${suffix(row * cols)}` };
    shapes.push({ type: 'line', xref: `x${s}`, yref: `y${s} domain`, x0: data.setting[x.name], x1: data.setting[x.name], y0: 0, y1: 1,
      line: { color: PALETTE[3], dash: 'dash', width: 1.5 }, editable: true, name: x.name });
    for (const t of ys) traces.push({ ...t, xaxis: `x${s}`, yaxis: `y${s}` });
  };
  for (const [r, response] of responses.entries()) {
    for (const [f, factor] of factors.entries()) {
      const t = data.traces.find((tr) => tr.factor === factor.name && tr.response === response.name);
      const hover = `${factor.name} %{x:.4g}<br>${response.name} %{y:.4g}<extra></extra>`;
      panel(r, f, [
        { type: 'scatter', mode: 'lines', x: t.x, y: t.lower, line: { width: 0 }, hoverinfo: 'skip', name: `${response.name} band low, ${factor.name}` },
        { type: 'scatter', mode: 'lines', x: t.x, y: t.upper, line: { width: 0 }, fill: 'tonexty', fillcolor: BAND, hoverinfo: 'skip', name: `${response.name} band high, ${factor.name}` },
        { type: 'scatter', mode: 'lines', x: t.x, y: t.value, line: { color: PALETTE[0], width: 2 }, hovertemplate: hover, name: `${response.name} along ${factor.name}` },
      ], withUnit(response.name, response.unit));
    }
  }
  for (const [f, d] of data.desirability.entries())
    panel(responses.length, f, [{ type: 'scatter', mode: 'lines', x: d.x, y: d.overall, line: { color: PALETTE[2], width: 2 }, name: `desirability along ${d.factor}`,
      hovertemplate: `${d.factor} %{x:.4g}<br>desirability %{y:.3f}<extra></extra>` }], 'desirability');
  layout.shapes = shapes;
  return { traces, layout };
}

// The profiler's controls and figure; `request(setting)` returns the plot
// JSON for a setting, `onSetting` hears of every change.
export class Profiler {
  constructor(div, sliders) {
    this.div = div;
    this.sliders = sliders;
    this.factors = [];
    this.setting = {};
  }

  // Sliders for the factors, keeping the setting of factors that remain.
  setFactors(factors, setting) {
    this.factors = factors;
    this.setting = setting;
    this.sliders.replaceChildren(...factors.map((f) => {
      const label = document.createElement('label');
      const name = document.createElement('span');
      const output = document.createElement('output');
      const input = document.createElement('input');
      Object.assign(input, { type: 'range', min: f.low, max: f.high, step: (f.high - f.low) / 100, value: setting[f.name] });
      input.dataset.factor = f.name;
      input.setAttribute('aria-label', `Setting of ${withUnit(f.name, f.unit)}`);
      output.textContent = num(setting[f.name]);
      input.addEventListener('input', () => this.move(f.name, Number(input.value)));
      name.append(`${withUnit(f.name, f.unit)}: `, output);
      label.append(name, input);
      return label;
    }));
  }

  // Moves one factor's setting (clamped to its span) and tells the owner.
  move(factor, value) {
    const f = this.factors.find((x) => x.name === factor);
    if (!f || !Number.isFinite(value)) return;
    this.setting[factor] = Math.min(f.high, Math.max(f.low, value));
    const input = this.sliders.querySelector(`input[data-factor="${CSS.escape(factor)}"]`);
    if (input) {
      input.value = this.setting[factor];
      input.previousElementSibling.querySelector('output').textContent = num(this.setting[factor]);
    }
    this.onSetting?.(factor);
  }

  async draw(data) {
    const { traces, layout } = profilerFigure(data);
    const rows = data.responses.length + (data.desirability.length ? 1 : 0);
    this.div.style.height = `${Math.max(320, 190 * rows + 90)}px`;
    await Plotly.react(this.div, traces, layout, { ...config, edits: { shapePosition: true } });
    if (this.div.dataset.listening) return;
    this.div.dataset.listening = 'true';
    // A dragged line reports its new x; a click in a panel moves there.
    this.div.on('plotly_relayout', (change) => {
      for (const [key, value] of Object.entries(change)) {
        const match = key.match(/^shapes\[(\d+)\]\.x0$/);
        if (!match) continue;
        const shape = this.div.layout.shapes[Number(match[1])];
        this.move(shape.name, Number(value));
      }
    });
    this.div.on('plotly_click', (event) => {
      const point = event.points?.[0];
      if (!point) return;
      const index = Number(point.data.xaxis.slice(1) || '1') - 1;
      const factor = this.factors[index % this.factors.length];
      if (factor) this.move(factor.name, point.x);
    });
  }
}
