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

// The answer's document and the change point it stands for (null from a
// service that gives out none).
async function withToken(response) {
  return { document: parseDocument(await response.text()), token: response.headers.get('X-Change-Sequence') };
}

export async function fetchAll(signal) {
  return withToken(await request('all.cgi', { signal }));
}

// Held by the service until something changes after the token's point (or
// after the request, without a token). Resolves to null when the front web
// server gave up waiting first (gateway time-out): nothing changed.
export async function fetchUpdate(token, signal) {
  const query = token === null ? '' : `?since=${encodeURIComponent(token)}`;
  try {
    return await withToken(await request(`update.cgi${query}`, { signal }));
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
