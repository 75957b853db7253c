// Step 4: the fit report of each response: statistics, coefficients, lack
// of fit and canonical analysis. "not estimable" stands for null.
import { $, el } from './dom.js';
import { num, numberCell, pValue } from './format.js';

function statisticsTable(report) {
  const rows = [
    // Seven digits: a good fit's R² would round to 1 at five.
    ['R²', report.rSquared, (v) => num(v, 7)],
    ['Adjusted R²', report.adjustedRSquared, (v) => num(v, 7)],
    ['Predicted R²', report.predictedRSquared, (v) => num(v, 7)],
    [report.sigmaKnown ? 'σ (known)' : 'RMSE', report.sigmaKnown ? report.sigma : report.rmse],
    ['PRESS', report.press],
    [`F (${report.fDfModel}, ${report.residualDf})`, report.fStatistic],
    ['p of F', report.fPValue, pValue],
  ];
  return [
    ...rows.map(([label, value, formatter = num]) => el('tr', {},
      el('td', { class: 'label' }, label), numberCell(el, value, formatter, { stat: label }))),
    el('tr', {}, el('td', { class: 'label' }, 'Runs / terms / residual df'),
      el('td', {}, `${report.runs} / ${report.terms} / ${report.residualDf}`)),
  ];
}

function coefficientTable(report, natural) {
  const level = Math.round(report.confidence * 100);
  const head = el('tr', {}, ['Term', 'Estimate', 'Std. error', natural ? 't' : (report.sigmaKnown ? 'z' : 't'), 'p',
    `${level}% low`, `${level}% high`].map((h) => el('th', {}, h)));
  const rows = report.coefficients.map((row) => {
    const e = natural ? row.natural : row.coded;
    return el('tr', {}, el('td', { class: 'label' }, row.term), numberCell(el, e.value), numberCell(el, e.stdError),
      numberCell(el, e.t, (v) => num(v, 4)), numberCell(el, e.p, pValue), numberCell(el, e.lower),
      numberCell(el, e.upper));
  });
  return [el('thead', {}, head), el('tbody', {}, rows)];
}

function lackOfFit(report) {
  const l = report.lackOfFit;
  if (!l.available) return el('p', { class: 'note' }, `Not available: ${l.reason}`);
  return el('table', { class: 'data' },
    el('tr', {}, ['', 'df', 'SS', 'F', 'p'].map((h) => el('th', {}, h))),
    el('tr', {}, el('td', { class: 'label' }, 'Lack of fit'), el('td', {}, l.lackOfFitDf),
      numberCell(el, l.lackOfFitSS), numberCell(el, l.f, (v) => num(v, 4)), numberCell(el, l.p, pValue)),
    el('tr', {}, el('td', { class: 'label' }, 'Pure error'), el('td', {}, l.pureErrorDf),
      numberCell(el, l.pureErrorSS), el('td'), el('td')));
}

const kindText = {
  maximum: 'a maximum', minimum: 'a minimum', saddle: 'a saddle point', ridge: 'a ridge (no unique stationary point)',
};

function canonical(report, factors) {
  const c = report.canonical;
  const list = el('dl', { class: 'kv' });
  const add = (term, value) => list.append(el('dt', {}, term), el('dd', {}, value));
  add('Surface', kindText[String(c.kind).toLowerCase()] ?? c.kind);
  if (c.hasStationaryPoint) {
    add('Stationary point', factors.map((f) => `${f.name} = ${num(c.stationaryNatural[f.name])}${f.unit ? ' ' + f.unit : ''}`).join(', '));
    add('Predicted there', num(c.predictedAtStationary));
    add('Inside the region', c.insideRegion ? 'yes' : `no (${num(c.distanceFromCenter, 3)} coded units from the centre)`);
  } else {
    add('Stationary point', 'none: the second-order part is singular');
  }
  add('Eigenvalues', c.eigenvalues.map((v) => num(v)).join(', '));
  return list;
}

// Shows the report of one response; `analyses` is the API's fit answer.
export function renderReport(analysis, factors) {
  $('#fit-stats').replaceChildren(...statisticsTable(analysis));
  $('#fit-not-estimable').textContent = analysis.notEstimable ? `Not estimable: ${analysis.notEstimable}` : '';
  const draw = () => $('#coefficients').replaceChildren(...coefficientTable(analysis, $('#natural-units').checked));
  draw();
  $('#natural-units').onchange = draw;
  $('#lack-of-fit').replaceChildren(lackOfFit(analysis));
  $('#canonical').replaceChildren(canonical(analysis, factors));
}

export function renderTabs(analyses, selected, onSelect) {
  $('#fit-tabs').replaceChildren(...analyses.map((a) => el('button', {
    type: 'button', class: a.response === selected ? 'active' : null, onclick: () => onSelect(a.response),
  }, a.response)));
}
