// Elements built from plain values. Text from a mail is only ever a Text node or an attribute
// value, never parsed as markup.
export function h(tag, props = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(props)) {
    if (value === undefined || value === null || value === false) continue;
    if (name === "class") element.className = value;
    else if (name.startsWith("on")) element.addEventListener(name.slice(2), value);
    else element.setAttribute(name, value === true ? "" : String(value));
  }
  for (const child of children.flat(Infinity)) if (child !== null && child !== undefined && child !== false) element.append(child);
  return element;
}

export class RequestError extends Error {}

// Same-origin requests only; an answer other than 2xx is an error carrying the API's own words.
export async function request(path, init = {}) {
  const response = await fetch(path, init);
  if (!response.ok) {
    let text = `${response.status} ${response.statusText}`;
    try { text = (await response.json()).Error || text; } catch { /* not JSON */ }
    throw new RequestError(text);
  }
  return response;
}

export const getJson = async (path) => (await request(path)).json();

export const messagePath = (id) => `/api/v1/message/${encodeURIComponent(id)}`;

export function addressText(address) {
  if (!address) return "";
  return address.Name ? `${address.Name} <${address.Address}>` : address.Address;
}

export const addressesText = (list) => (list || []).map(addressText).join(", ");

const units = ["B", "kB", "MB", "GB"];
export function sizeText(bytes) {
  let value = bytes, unit = 0;
  while (value >= 1000 && unit < units.length - 1) { value /= 1000; unit++; }
  return `${unit ? value.toFixed(value < 10 ? 1 : 0) : value} ${units[unit]}`;
}

const timeOfDay = new Intl.DateTimeFormat(undefined, { hour: "2-digit", minute: "2-digit" });
const dayOfYear = new Intl.DateTimeFormat(undefined, { day: "numeric", month: "short" });
const fullDate = new Intl.DateTimeFormat(undefined, { dateStyle: "medium", timeStyle: "medium" });
const dayWithYear = new Intl.DateTimeFormat(undefined, { dateStyle: "medium" });

// Today's mail by its time, this year's by its day, older mail with its year.
export function shortTime(iso) {
  const when = new Date(iso), now = new Date();
  if (when.toDateString() === now.toDateString()) return timeOfDay.format(when);
  return when.getFullYear() === now.getFullYear() ? dayOfYear.format(when) : dayWithYear.format(when);
}

export const longTime = (iso) => fullDate.format(new Date(iso));
