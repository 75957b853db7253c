// Step 3's model choice for the selected response: terms or a kind, a
// backward elimination, a transform; its ANOVA by source and the runs the
// outlier test flags. "Save as the model" keeps it as the response's chosen
// model, which the fit report, the surface and the optimum then use.
import { api } from './api.js';
import { $, el, notify } from './dom.js';
import { num, numberCell, parseNumber, pValue } from './format.js';

function anovaTable(anova, partial) {
  const rows = [...(partial ? anova.partial : anova.sequential), anova.model, anova.residual];
  if (!anova.lackOfFitReason) rows.push(anova.lackOfFit, anova.pureError);
  rows.push(anova.total);
  return el('table', { class: 'data' },
    el('tr', {}, ['Source', 'df', 'Sum of sq.', 'Mean sq.', 'F', 'p'].map((h) => el('th', {}, h))),
    rows.map((r) => el('tr', {}, el('td', { class: 'label' }, r.source), el('td', {}, r.df), numberCell(el, r.ss),
      numberCell(el, r.ms), numberCell(el, r.f, (v) => num(v, 4)), numberCell(el, r.p, pValue))));
}

function outliers(diagnostics) {
  const flagged = diagnostics.runs.filter((r) => r.outlier);
  if (!flagged.length) return el('p', { class: 'note', id: 'model-outliers' }, 'Outliers: none');
  return el('p', { class: 'field-error', id: 'model-outliers' }, 'Outliers: ' + flagged.map((r) =>
    `run ${r.run} (externally studentised residual ${num(r.externallyStudentized, 4)}, Bonferroni p ${pValue(r.bonferroniP)}, Cook's distance ${num(r.cooksDistance, 3)})`).join('; '));
}

function steps(build) {
  if (!build.reduction) return null;
  if (!build.reduction.length) return el('p', { class: 'note' }, 'Reduction: no term removed');
  return el('p', { class: 'note' }, 'Reduction: ' + build.reduction.map((s) =>
    `${s.removed}${s.forced ? ' (forced)' : ''} (p ${pValue(s.p)})`).join(', then ') + ` → ${build.model}`);
}

// The library's verdict on the build: dropped terms and why, lack of fit, the transform.
function buildVerdict(v) {
  return el('div', { class: v.warning ? 'verdict warning' : 'verdict', id: 'model-verdict', role: 'note' },
    el('strong', {}, v.warning ? 'Warning: ' : 'Verdict: '), el('ul', {}, v.findings.map((f) => el('li', {}, f))));
}

function request(response, save) {
  const terms = (id) => $(id).value.split(',').map((t) => t.trim()).filter(Boolean);
  return {
    response, save, model: $('#model-terms').value.trim() || 'quadratic', transform: $('#model-transform').value,
    reduce: $('#model-reduce').checked, aicc: $('#model-aicc').checked, pToRemove: parseNumber($('#model-p-remove').value),
    forceIn: terms('#model-force-in'), forceOut: terms('#model-force-out'),
  };
}

// The form as the study file keeps the response's chosen model (its
// "models" member; a response without one has the full quadratic).
function fillForm(choice) {
  const reduction = choice?.reduction ?? {};
  $('#model-terms').value = choice?.model ?? '';
  $('#model-transform').value = choice?.transform ?? 'none';
  $('#model-reduce').checked = choice?.reduce ?? false;
  $('#model-aicc').checked = reduction.criterion === 'aicc';
  $('#model-p-remove').value = reduction.pToRemove === undefined ? '' : String(reduction.pToRemove);
  $('#model-force-in').value = (reduction.forceIn ?? []).join(', ');
  $('#model-force-out').value = (reduction.forceOut ?? []).join(', ');
  $('#model-choice').dataset.filledFor = choice ? 'saved' : 'default';
}

// Shows the controls for `response`; onSaved(models) runs after a save.
export function renderModelChoice(response, onSaved) {
  const result = $('#model-result');
  const run = async (save) => {
    $('#model-error').textContent = '';
    try {
      const answer = await api.model(request(response, save));
      const b = answer.build;
      const partial = $('#model-partial').checked;
      result.replaceChildren(
        el('p', {}, `Model: ${b.model}${b.hierarchy ? ` (hierarchy: ${b.hierarchy})` : ''}` +
          (b.transformPower === null ? '' : `, on the scale of power ${num(b.transformPower, 3)}`)),
        buildVerdict(b.verdict), steps(b), anovaTable(b.anova, partial), outliers(b.diagnostics));
      if (save) {
        notify(`Saved the model of ${response}`);
        onSaved(answer.models);
      }
    } catch (error) {
      $('#model-error').textContent = error.field ? `${error.field}: ${error.message}` : error.message;
    }
  };
  $('#model-response').textContent = response;
  $('#model-try').onclick = () => run(false);
  $('#model-save').onclick = () => run(true);
  result.replaceChildren();
  delete $('#model-choice').dataset.filledFor;
  api.studyFile().then((file) => {
    if ($('#model-response').textContent === response) fillForm(file.models?.[response]);
  }).catch((error) => { $('#model-error').textContent = error.message; });
}
