// The service's endpoints as the page uses them.

import { parseDocument } from './tolerant-json.js';

const BASE = '/api/v1/';

export class HttpError extends Error {
  constructor(status) {
    super(`HTTP ${status}`);
    this.status = status;
  }
}

async function request(path, options = {}) {
  const response = await fetch(BASE + path, { cache: 'no-store', ...options });
  if (!response.ok) throw new HttpError(response.status);
  return response;
}

export async function fetchAll(signal) {
  return parseDocument(await (await request('all.cgi', { signal })).text());
}

// Held by the service until something changes. Resolves to null when the
// front web server gave up waiting first (gateway time-out): nothing changed.
export async function fetchUpdate(signal) {
  try {
    return parseDocument(await (await request('update.cgi', { signal })).text());
  } catch (error) {
    if (error instanceof HttpError && error.status === 504) return null;
    throw error;
  }
}

// Resolves to '' on success or to the service's error text.
export async function postSet(body) {
  const response = await request('set.cgi', {
    method: 'POST',
    headers: { 'Content-Type': 'text/plain;charset=UTF-8' },
    body,
  });
  const answer = parseDocument(await response.text());
  if (answer.result === 1) return '';
  return answer.error || 'The service did not accept the write';
}

// Resolves to the raw answer bytes: the log length line, then HTML.
export async function fetchLog(offset, signal) {
  const query = offset > 0 ? `?offset=${offset}` : '';
  return new Uint8Array(await (await request(`log.cgi${query}`, { signal })).arrayBuffer());
}

export function screenUrl() {
  return `${BASE}screen.cgi?at=${Date.now()}`;
}
