// Step 4: the fit report of each response: statistics, coefficients, lack
// of fit and canonical analysis. "not estimable" stands for null.
import { $, el } from './dom.js';
import { num, numberCell, pValue } from './format.js';

// A statistic's name with the library's one-line meaning, shown on hover
// and on keyboard focus and read out by screen readers.
export function withMeaning(label, meaning) {
  if (!meaning) return label;
  const id = `meaning-${meaning.key}`;
  return el('span', { class: 'has-meaning', tabindex: '0', 'aria-describedby': id }, label,
    el('span', { class: 'meaning-tip', role: 'tooltip', id }, meaning.text));
}

function statisticsTable(report, meanings) {
  const rows = [
    // Seven digits: a good fit's R² would round to 1 at five.
    ['R²', report.rSquared, (v) => num(v, 7), 'rSquared'],
    ['Adjusted R²', report.adjustedRSquared, (v) => num(v, 7), 'adjustedRSquared'],
    ['Predicted R²', report.predictedRSquared, (v) => num(v, 7), 'predictedRSquared'],
    [report.sigmaKnown ? 'σ (known)' : 'RMSE', report.sigmaKnown ? report.sigma : report.rmse, num, report.sigmaKnown ? 'sigma' : 'rmse'],
    ['PRESS', report.press, num, 'press'],
    [`F (${report.fDfModel}, ${report.residualDf})`, report.fStatistic, num, 'fStatistic'],
    ['p of F', report.fPValue, pValue, 'fPValue'],
  ];
  const meaning = (key) => meanings?.[key] && { key, text: meanings[key].text };
  return [
    ...rows.map(([label, value, formatter, key]) => el('tr', {},
      el('td', { class: 'label' }, withMeaning(label, meaning(key))), numberCell(el, value, formatter, { stat: label }))),
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

function lackOfFit(report, meanings) {
  const l = report.lackOfFit;
  if (!l.available) return el('p', { class: 'note' }, `Not available: ${l.reason}`);
  const meaning = (key) => meanings?.[key] && { key: `lof-${key}`, text: meanings[key].text };
  return el('table', { class: 'data' },
    el('tr', {}, ['', 'df', 'SS', 'F', 'p'].map((h) => el('th', {}, h))),
    el('tr', {}, el('td', { class: 'label' }, withMeaning('Lack of fit', meaning('lackOfFit'))), el('td', {}, l.lackOfFitDf),
      numberCell(el, l.lackOfFitSS), numberCell(el, l.f, (v) => num(v, 4)), numberCell(el, l.p, pValue)),
    el('tr', {}, el('td', { class: 'label' }, withMeaning('Pure error', meaning('pureError'))), el('td', {}, l.pureErrorDf),
      numberCell(el, l.pureErrorSS), el('td'), el('td')));
}

const kindText = {
  maximum: 'a maximum', minimum: 'a minimum', saddle: 'a saddle point', ridge: 'a ridge (no unique stationary point)',
};

function canonical(report, factors, meanings) {
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
  list.append(el('dt', {}, withMeaning('Eigenvalues', meanings?.eigenvalues && { key: 'eigenvalues', text: meanings.eigenvalues.text })),
    el('dd', {}, c.eigenvalues.map((v) => num(v)).join(', ')));
  return list;
}

// The library's verdict on the model, a warning set apart.
function verdict(analysis) {
  const v = analysis.verdict;
  const box = $('#fit-verdict');
  box.className = v.warning ? 'verdict warning' : 'verdict';
  box.replaceChildren(el('strong', {}, v.warning ? 'Warning: ' : 'Verdict: '),
    el('ul', {}, v.findings.map((f) => el('li', {}, f))));
}

// Shows the report of one response; `meanings` is the fit answer's table of meanings.
export function renderReport(analysis, factors, meanings) {
  verdict(analysis);
  $('#fit-stats').replaceChildren(...statisticsTable(analysis, meanings));
  $('#fit-not-estimable').textContent = analysis.notEstimable ? `Not estimable: ${analysis.notEstimable}` : '';
  const draw = () => $('#coefficients').replaceChildren(...coefficientTable(analysis, $('#natural-units').checked));
  draw();
  $('#natural-units').onchange = draw;
  $('#lack-of-fit').replaceChildren(lackOfFit(analysis, meanings));
  $('#canonical').replaceChildren(canonical(analysis, factors, meanings));
}

export function renderTabs(analyses, selected, onSelect) {
  $('#fit-tabs').replaceChildren(...analyses.map((a) => el('button', {
    type: 'button', class: a.response === selected ? 'active' : null, onclick: () => onSelect(a.response),
  }, a.response)));
}
