// A few helpers to build elements without a framework.

// el('td', {class: 'na', title: 't'}, 'text', child) -> element.
export function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key === 'dataset') Object.assign(node.dataset, value);
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key in node && typeof value !== 'string') node[key] = value;
    else node.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children.flat()) {
    if (child === undefined || child === null) continue;
    node.append(child instanceof Node ? child : String(child));
  }
  return node;
}

export const $ = (selector, root = document) => root.querySelector(selector);
export const $$ = (selector, root = document) => [...root.querySelectorAll(selector)];

let statusTimer = 0;
// A short message in the corner; errors stay longer.
export function notify(message, isError = false) {
  const status = $('#status');
  status.textContent = message;
  status.className = isError ? 'shown error' : 'shown';
  clearTimeout(statusTimer);
  statusTimer = setTimeout(() => { status.className = ''; }, isError ? 8000 : 2500);
}

// Text of a file the user picked.
export function readFile(input) {
  const file = input.files?.[0];
  input.value = '';
  return file ? file.text() : Promise.resolve(null);
}
