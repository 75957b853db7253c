// Numbers for people: significant digits, and "not estimable" for null
// (the API writes NaN as null).

const NOT_ESTIMABLE = 'not estimable';

export function num(value, digits = 5) {
  if (value === null || value === undefined) return NOT_ESTIMABLE;
  if (value === 0) return '0';
  const magnitude = Math.abs(value);
  if (magnitude >= 1e6 || magnitude < 1e-4) return value.toExponential(digits - 1);
  return String(Number(value.toPrecision(digits)));
}

export function pValue(value) {
  if (value === null || value === undefined) return NOT_ESTIMABLE;
  return value < 1e-4 ? '< 0.0001' : value.toFixed(4);
}

// A table cell for a number, greyed when not estimable; data-value keeps
// the full double for whoever reads the page by machine.
export function numberCell(el, value, formatter = num, dataset = {}) {
  const missing = value === null || value === undefined;
  return el('td', { class: missing ? 'na' : null, dataset: missing ? dataset : { ...dataset, value: String(value) } },
    formatter(value));
}

export function withUnit(name, unit) {
  return unit ? `${name} (${unit})` : name;
}

// Reads a number field: null when empty, NaN when not a number.
export function parseNumber(text) {
  const trimmed = String(text).trim();
  if (trimmed === '') return null;
  const value = Number(trimmed);
  return Number.isFinite(value) ? value : NaN;
}
