// The study report as a download: the library writes the HTML; the goals
// set in the optimum step, when any, give it its optimum section.
import { api } from './api.js';
import { $, notify } from './dom.js';
import { readRequest } from './optimum.js';

// The optimum step's request when it names a goal or a limit; otherwise none.
function goalsRequest() {
  try {
    const request = readRequest();
    return request.goals.goals.length || request.goals.constraints.length ? request : {};
  } catch (error) {
    notify(`The report leaves out the optimum: ${error.message}`, true);
    return {};
  }
}

export function setupReport() {
  const button = $('#download-report');
  button.addEventListener('click', async () => {
    button.disabled = true;
    try {
      const html = await api.report(goalsRequest());
      const link = document.createElement('a');
      link.href = URL.createObjectURL(new Blob([html], { type: 'text/html' }));
      link.download = 'study-report.html';
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 0);
      notify('Report written.');
    } catch (error) {
      notify(error.message, true);
    } finally {
      button.disabled = false;
    }
  });
}
