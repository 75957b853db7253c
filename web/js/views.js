// Step 5: the views of a fitted study. Each tab asks the server for one
// view's plot data (/api/plot) and draws it; a view that cannot be drawn
// shows the library's reason instead of a picture. The setting of the
// profiler is the setting every other view holds its other factors at.
import { api } from './api.js';
import { $, el } from './dom.js';
import { readRequest } from './optimum.js';
import { Profiler } from './profiler.js';
import { drawBoxCox, drawFds, drawInteraction, drawOverlay, drawResiduals, drawRobustness, drawSurface } from './view_plots.js';

const VIEWS = [
  ['profiler', 'Profiler'], ['overlay', 'Sweet spot'], ['surface', '3-D surface'], ['interaction', 'Interaction'],
  ['residuals', 'Residuals'], ['boxcox', 'Box-Cox'], ['fds', 'Design: prediction variance'], ['robustness', 'Robustness'],
];
const DRAW = {
  overlay: drawOverlay, surface: drawSurface, interaction: drawInteraction, residuals: drawResiduals, boxcox: drawBoxCox, fds: drawFds,
  robustness: drawRobustness,
};
// Which of the response and axis choices each view uses.
const USES = { profiler: [], overlay: ['x', 'y'], surface: ['response', 'x', 'y'], interaction: ['response', 'x', 'y'],
  residuals: ['response'], boxcox: ['response'], fds: [], robustness: ['x', 'y'] };

export class Views {
  constructor() {
    this.div = $('#view-plot');
    this.kind = 'profiler';
    this.study = null;
    this.revision = 0;
    this.profiler = new Profiler(this.div, $('#view-settings'));
    this.profiler.onSetting = () => this.draw();
    this.buildTabs();
    for (const id of ['#view-response', '#view-x', '#view-y']) $(id).addEventListener('change', () => this.draw());
    $('#view-refresh').addEventListener('click', () => this.draw());
  }

  buildTabs() {
    const tabs = VIEWS.map(([kind, label]) => el('button', {
      type: 'button', role: 'tab', id: `view-tab-${kind}`, 'aria-controls': 'view-plot', dataset: { kind },
      onclick: () => this.select(kind),
    }, label));
    // Arrow keys move between the tabs, as in every tab list.
    $('#view-tabs').addEventListener('keydown', (event) => {
      const step = { ArrowRight: 1, ArrowLeft: -1 }[event.key];
      if (!step) return;
      const k = VIEWS.findIndex(([kind]) => kind === this.kind);
      const next = VIEWS[(k + step + VIEWS.length) % VIEWS.length][0];
      this.select(next);
      $(`#view-tab-${next}`).focus();
    });
    $('#view-tabs').replaceChildren(...tabs);
    this.markTabs();
  }

  markTabs() {
    for (const button of $('#view-tabs').children) {
      const active = button.dataset.kind === this.kind;
      button.classList.toggle('active', active);
      button.setAttribute('aria-selected', String(active));
      button.tabIndex = active ? 0 : -1;
    }
    for (const key of ['response', 'x', 'y']) $(`#view-${key}`).closest('label').hidden = !USES[this.kind].includes(key);
  }

  select(kind) {
    this.kind = kind;
    this.markTabs();
    this.draw();
  }

  // A study (or none): choices and setting follow it. Without its results
  // the views say so rather than draw.
  setStudy(study) {
    this.study = study?.factors?.length ? study : null;
    $('#views').hidden = !this.study;
    if (!this.study) return;
    const fill = (select, names, fallback) => {
      const current = select.value;
      select.replaceChildren(...names.map((n) => el('option', { value: n }, n)));
      select.value = names.includes(current) ? current : fallback;
    };
    const factors = study.factors.map((f) => f.name);
    fill($('#view-response'), study.responses.map((r) => r.name), study.responses[0].name);
    fill($('#view-x'), factors, factors[0]);
    fill($('#view-y'), factors, factors[1] ?? factors[0]);
    const old = this.profiler.setting;
    const setting = Object.fromEntries(study.factors.map((f) => [f.name, old[f.name] ?? (f.low + f.high) / 2]));
    this.profiler.setFactors(study.factors, setting);
    this.draw();
  }

  // The best optimum becomes the setting, so that every view shows it.
  setOptimum(result) {
    const best = result?.optimum?.candidates?.[0];
    if (!best || !this.study) return;
    this.profiler.setFactors(this.study.factors, { ...best.settings });
    this.draw();
  }

  request() {
    const body = { kind: this.kind, at: { ...this.profiler.setting } };
    // A finer grid where a limit's edge is drawn.
    if (this.kind === 'overlay' || this.kind === 'robustness') body.steps = 81;
    const uses = USES[this.kind];
    if (uses.includes('response')) body.response = $('#view-response').value;
    if (uses.includes('x')) body.x = $('#view-x').value;
    if (uses.includes('y')) body[this.kind === 'interaction' ? 'by' : 'y'] = $('#view-y').value;
    const optimum = readRequest();
    if (optimum.goals.goals.length || optimum.goals.constraints.length) body.goals = optimum.goals;
    // The cloud sits on the overlay at the nominal optimum it spreads around.
    if (this.kind === 'robustness') delete body.at;
    if (this.kind === 'robustness') Object.assign(body, { replicates: optimum.robust?.replicates ?? 200, seed: optimum.robust?.seed ?? 1 });
    return body;
  }

  // One request at a time; a change meanwhile draws once more after it.
  async draw() {
    if (!this.study) return;
    if (this.pending) {
      this.again = true;
      return;
    }
    this.pending = true;
    // "true" from a request until the last queued redraw has drawn, so that
    // a reader can tell a settled figure from one about to change.
    this.div.dataset.drawing = 'true';
    let body = null;
    try {
      body = this.request();
      const data = await api.plot(body);
      $('#view-error').textContent = '';
      this.div.hidden = false;
      if (this.kind === 'profiler') await this.profiler.draw(data);
      else await DRAW[this.kind](this.div, data);
      this.div.dataset.kind = this.kind;
    } catch (error) {
      // The library's reason, in place of a picture that would be wrong.
      Plotly.purge(this.div);
      delete this.div.dataset.listening;
      this.div.hidden = true;
      this.div.dataset.kind = '';
      $('#view-error').textContent = `This view cannot be drawn: ${error.message}`;
    } finally {
      this.revision += 1;
      this.div.dataset.revision = String(this.revision);
      this.div.dataset.request = JSON.stringify(body);
      this.pending = false;
    }
    if (this.again) {
      this.again = false;
      this.draw();
      return;
    }
    this.div.dataset.drawing = 'false';
  }
}
