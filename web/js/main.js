// The workbench page: one study, kept by the server; the page shows it and
// sends every change through the API.
import { api } from './api.js';
import { fillDefinition, loadDesigns, setupDefinition, validate } from './define.js';
import { $, notify, readFile } from './dom.js';
import { drawResiduals, ContourPanel } from './plots.js';
import { renderReport, renderTabs } from './fit.js';
import { renderModelChoice } from './model.js';
import { renderGoalTable, setupOptimum } from './optimum.js';
import { renderRuns, setupRuns } from './runs.js';
import { Views } from './views.js';
import { setupReport } from './report.js';

const state = { study: null, file: null, saved: true, analyses: null, meanings: null, selected: null, optimum: null };
const contour = new ContourPanel();
const views = new Views();

function renderFileBar() {
  $('#file-name').textContent = state.file ?? 'no study file';
  $('#file-state').textContent = !state.study ? '' : state.saved ? 'saved' : 'unsaved changes';
  $('#file-state').className = state.saved ? '' : 'unsaved';
  $('#save').disabled = !state.study || !state.file;
  $('#save').title = state.file ? `Write ${state.file}` : 'Started without a study file: use Download';
  $('#download-study').hidden = !state.study;
  $('#download-report').hidden = !state.study;
  $('#download-study').download = state.file ?? 'study.json';
}

function selectResponse(name) {
  state.selected = name;
  const analysis = state.analyses.find((a) => a.response === name);
  renderTabs(state.analyses, name, selectResponse);
  renderReport(analysis, state.study.factors, state.meanings);
  drawResiduals(analysis);
  renderModelChoice(name, () => {
    state.saved = false;
    renderFileBar();
    refit();
  });
}

// Refits whenever the results change; a study with missing results shows
// the layer's message instead.
async function refit() {
  $('#fit-error').textContent = '';
  views.setStudy(state.study);
  if (!state.study) {
    $('#fit-body').hidden = true;
    return;
  }
  try {
    ({ responses: state.analyses, meanings: state.meanings } = await api.fit());
  } catch (error) {
    state.analyses = null;
    $('#fit-body').hidden = true;
    $('#fit-error').textContent = error.message;
    return;
  }
  $('#fit-body').hidden = false;
  const names = state.analyses.map((a) => a.response);
  selectResponse(names.includes(state.selected) ? state.selected : names[0]);
  contour.setStudy(state.study, names, state.optimum);
}

// A new study value from the server (created, opened, results entered).
function onStudy(study, { definitionChanged = false, saved = false } = {}) {
  state.study = study;
  state.saved = saved;
  state.optimum = null;
  optimum.clear();
  if (definitionChanged) {
    fillDefinition(study, onEdit);
    validate();
  }
  renderFileBar();
  renderRuns(study, (s) => onStudy(s));
  if (study) renderGoalTable(study);
  refit();
}

const onEdit = setupDefinition({
  onCreated: (reply) => {
    onStudy(reply.study);
    notify(`Plan created: ${reply.study.runs.length} runs.`);
    location.hash = '#runs';
  },
  hasResults: () => Boolean(state.study?.runs.some((r) => Object.values(r.results).some((v) => v !== null))),
});
setupRuns((study) => onStudy(study));
setupReport();
const optimum = setupOptimum({
  getStudy: () => state.study,
  getAxes: () => contour.axes(),
  onOptimum: (result) => {
    state.optimum = result;
    contour.setOptimum(result);
    views.setOptimum(result);
  },
});

function onSaved(reply) {
  state.file = reply.file;
  state.saved = true;
  $('#file-conflict').hidden = true;
  renderFileBar();
  notify(`Saved ${reply.file}.`);
}

// Another program wrote the study file since the workbench read it: the
// user chooses between its version and saving this one elsewhere.
function showConflict(message) {
  $('#file-conflict-message').textContent = message;
  $('#file-conflict').hidden = false;
}

$('#save').addEventListener('click', async () => {
  try {
    onSaved(await api.save());
  } catch (error) {
    if (error.type === 'FileChanged') showConflict(error.message);
    else notify(error.message, true);
  }
});

$('#conflict-reload').addEventListener('click', async () => {
  try {
    onStudy((await api.reload()).study, { definitionChanged: true, saved: true });
    $('#file-conflict').hidden = true;
    notify(`Reloaded ${state.file}.`);
  } catch (error) {
    notify(error.message, true);
  }
});

$('#conflict-save-as').addEventListener('click', async () => {
  try {
    onSaved(await api.saveAs($('#conflict-name').value.trim()));
  } catch (error) {
    notify(error.message, true);
  }
});

$('#conflict-cancel').addEventListener('click', () => { $('#file-conflict').hidden = true; });

$('#open-study').addEventListener('change', async (event) => {
  const file = await readFile(event.target);
  if (file === null) return;
  if (!state.saved && !confirm('Replace the current study? Its unsaved changes will be lost.')) return;
  try {
    onStudy((await api.open(file.text, file.name)).study, { definitionChanged: true });
    notify(`Opened ${file.name}.`);
  } catch (error) {
    notify(error.message, true);
  }
});

window.addEventListener('beforeunload', (event) => {
  if (state.study && !state.saved && state.file) event.preventDefault();
});

async function start() {
  await loadDesigns();
  const initial = await api.state();
  state.file = initial.file;
  onStudy(initial.study, { definitionChanged: true, saved: initial.saved });
  document.body.dataset.ready = 'true';
}

start().catch((error) => notify(error.message, true));
