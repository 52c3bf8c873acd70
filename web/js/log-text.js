// The kernel log as the service hands it out: a line with the length of its
// log text in bytes, then HTML (kernel text with coloured spans, the text
// itself not escaped).

const LINE_END = [13, 10];

export function splitLogAnswer(bytes) {
  for (let i = 0; i + 1 < bytes.length; i++) {
    if (bytes[i] === LINE_END[0] && bytes[i + 1] === LINE_END[1]) {
      const length = Number(new TextDecoder().decode(bytes.subarray(0, i)));
      if (Number.isInteger(length)) return { length, body: bytes.subarray(i + 2) };
      break;
    }
  }
  throw new Error('The log answer has no length line');
}

// Where the text received ends, and whether it replaces what was shown. The
// service sends the tail after an offset that lies within its text, and the
// whole text otherwise (offset 0, or an offset from before it restarted).
export function afterLogAnswer(requestedOffset, length, bodyBytes) {
  if (requestedOffset > 0 && requestedOffset <= length) {
    return { restart: false, offset: requestedOffset + bodyBytes };
  }
  return { restart: true, offset: bodyBytes };
}

const TAG = /<span style='([^'<>]*)'>|<\/span>/g;
const OPEN_TAG = "<span style='";
const CLOSE_TAG = '</span>';
const SAFE_STYLE = /^(background-)?color: #[0-9A-Fa-f]{6}$/;

// Splits log HTML into text and the two tags the service writes; anything
// else, a "<" in a kernel message included, is text. A tag cut at the end of
// one answer is completed by the next.
export class LogMarkup {
  constructor() {
    this.carry = '';
  }

  // Returns tokens: {text}, {open: style} (style '' when not a plain colour),
  // {close: true}.
  feed(chunk) {
    let text = this.carry + chunk;
    this.carry = '';
    const cut = text.lastIndexOf('<');
    if (cut >= 0 && mayBeTagStart(text.slice(cut))) {
      this.carry = text.slice(cut);
      text = text.slice(0, cut);
    }
    const tokens = [];
    let last = 0;
    for (const match of text.matchAll(TAG)) {
      if (match.index > last) tokens.push({ text: text.slice(last, match.index) });
      if (match[1] === undefined) tokens.push({ close: true });
      else tokens.push({ open: SAFE_STYLE.test(match[1]) ? match[1] : '' });
      last = match.index + match[0].length;
    }
    if (last < text.length) tokens.push({ text: text.slice(last) });
    return tokens;
  }
}

function mayBeTagStart(tail) {
  if (tail.includes('>')) return false;
  if (CLOSE_TAG.startsWith(tail) || OPEN_TAG.startsWith(tail)) return true;
  return tail.startsWith(OPEN_TAG) && /^[^'<]*'?$/.test(tail.slice(OPEN_TAG.length));
}
