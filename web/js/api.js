// The workbench's JSON API. Every refusal carries the layer's message in
// {"error": {type, message, field}}; it is thrown as an ApiError, whose
// field is the path of the input at fault ("goals[0].high"), or ''.

export class ApiError extends Error {
  constructor(status, error) {
    super(error?.message ?? `the server answered ${status}`);
    this.status = status;
    this.type = error?.type ?? 'Error';
    this.field = error?.field ?? '';
  }
}

async function call(method, path, body, contentType = 'application/json') {
  const options = { method, headers: {} };
  if (body !== undefined) {
    options.body = typeof body === 'string' ? body : JSON.stringify(body);
    options.headers['Content-Type'] = contentType;
  }
  const response = await fetch(path, options);
  const text = await response.text();
  let json = null;
  try {
    json = text ? JSON.parse(text) : null;
  } catch {
    throw new ApiError(response.status, { message: `the server answered ${response.status} with no JSON` });
  }
  if (!response.ok) throw new ApiError(response.status, json?.error);
  return json;
}

export const api = {
  state: () => call('GET', '/api/state'),
  designs: () => call('GET', '/api/designs'),
  validate: (definition) => call('POST', '/api/validate', definition),
  evaluate: (definition) => call('POST', '/api/evaluate', definition),
  create: (definition) => call('POST', '/api/new', definition),
  enterResults: (results) => call('POST', '/api/results', { results }),
  // recordActual: the file's settings columns become the runs' actual settings.
  enterResultsCsv: (text, name, recordActual = false) =>
    call('POST', `/api/results.csv?name=${encodeURIComponent(name)}${recordActual ? '&actual=1' : ''}`, text, 'text/csv'),
  studyFile: () => call('GET', '/api/study.json'),
  fit: () => call('GET', '/api/fit'),
  surface: (request) => call('POST', '/api/surface', request),
  optimize: (request) => call('POST', '/api/optimize', request),
  plot: (request) => call('POST', '/api/plot', request),
  report: (request) => fetch('/api/report', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(request) })
    .then(async (response) => {
      const text = await response.text();
      if (response.ok) return text;
      throw new ApiError(response.status, JSON.parse(text)?.error);
    }),
  model: (request) => call('POST', '/api/model', request),
  open: (text, name) => call('POST', `/api/open?name=${encodeURIComponent(name)}`, text),
  save: () => call('POST', '/api/save'),
  reload: () => call('POST', '/api/reload'),
  saveAs: (name) => call('POST', '/api/save-as', { name }),
};
