// Parser for the service's variable documents. They are JSON except in two
// places the service cannot avoid: a value that failed to render is written as
// the bare fragment "ERROR": "text" (text not escaped), and an update answer can
// open the same memory object more than once. Both are accepted here: the
// fragment becomes {ERROR: text}, and repeated object keys are merged.

export class ParseError extends Error {
  constructor(message, position) {
    super(`${message} at ${position}`);
    this.position = position;
  }
}

const NUMBER = /-?\d+(?:\.\d+)?(?:[eE][+-]?\d+)?/y;
const ESCAPES = { '"': '"', '\\': '\\', '/': '/', b: '\b', f: '\f', n: '\n', r: '\r', t: '\t' };

export function parseDocument(text) {
  const parser = new Parser(text);
  // Anything after the top-level value is ignored: a push whose variable list
  // came out empty carries one closing brace too many.
  return parser.value();
}

class Parser {
  constructor(text) {
    this.text = text;
    this.pos = 0;
  }

  fail(message) {
    throw new ParseError(message, this.pos);
  }

  skipWhitespace() {
    const text = this.text;
    for (;;) {
      const code = text.charCodeAt(this.pos);
      if (code !== 0x20 && code !== 0x0a && code !== 0x0d && code !== 0x09) return;
      this.pos++;
    }
  }

  peek() {
    this.skipWhitespace();
    return this.text[this.pos];
  }

  expect(char) {
    if (this.peek() !== char) this.fail(`Expected '${char}'`);
    this.pos++;
  }

  value() {
    const char = this.peek();
    if (char === '{') return this.object();
    if (char === '[') return this.array();
    if (char === '"') return this.stringOrErrorFragment();
    if (this.text.startsWith('true', this.pos)) return this.literal('true', true);
    if (this.text.startsWith('false', this.pos)) return this.literal('false', false);
    if (this.text.startsWith('null', this.pos)) return this.literal('null', null);
    NUMBER.lastIndex = this.pos;
    const match = NUMBER.exec(this.text);
    if (!match) this.fail('Unexpected character');
    this.pos += match[0].length;
    return Number(match[0]);
  }

  literal(word, result) {
    this.pos += word.length;
    return result;
  }

  object() {
    this.pos++;
    const result = {};
    if (this.peek() === '}') {
      this.pos++;
      return result;
    }
    for (;;) {
      if (this.peek() !== '"') this.fail('Expected a key');
      const key = this.string();
      this.expect(':');
      const item = this.value();
      const previous = result[key];
      if (isPlainObject(previous) && isPlainObject(item)) Object.assign(previous, item);
      else result[key] = item;
      const next = this.peek();
      if (next !== ',' && next !== '}') this.fail("Expected ',' or '}'");
      this.pos++;
      if (next === '}') return result;
    }
  }

  array() {
    this.pos++;
    const result = [];
    if (this.peek() === ']') {
      this.pos++;
      return result;
    }
    for (;;) {
      result.push(this.value());
      const next = this.peek();
      if (next !== ',' && next !== ']') this.fail("Expected ',' or ']'");
      this.pos++;
      if (next === ']') return result;
    }
  }

  stringOrErrorFragment() {
    const start = this.pos;
    const text = this.string();
    if (text !== 'ERROR' || this.peek() !== ':') return text;
    this.pos++;
    if (this.peek() !== '"') {
      this.pos = start;
      this.fail('Malformed error fragment');
    }
    return { ERROR: this.rawErrorText() };
  }

  // The error text is written unescaped, so it ends at the first quote that is
  // followed by what may follow a value.
  rawErrorText() {
    const text = this.text;
    const begin = this.pos + 1;
    for (let quote = text.indexOf('"', begin); quote >= 0; quote = text.indexOf('"', quote + 1)) {
      this.pos = quote + 1;
      const next = this.peek();
      if (next === undefined || next === ',' || next === '}' || next === ']') return text.slice(begin, quote);
    }
    this.pos = begin;
    return this.fail('Unterminated error fragment');
  }

  string() {
    const text = this.text;
    const begin = this.pos + 1;
    const end = text.indexOf('"', begin);
    if (end < 0) this.fail('Unterminated string');
    const plain = text.slice(begin, end);
    if (!plain.includes('\\')) {
      this.pos = end + 1;
      return plain;
    }
    return this.escapedString(begin);
  }

  escapedString(begin) {
    const text = this.text;
    let result = '';
    let i = begin;
    for (;;) {
      const char = text[i];
      if (char === undefined) {
        this.pos = i;
        this.fail('Unterminated string');
      }
      if (char === '"') break;
      if (char !== '\\') {
        result += char;
        i++;
        continue;
      }
      const code = text[i + 1];
      if (code === 'u') {
        const hex = text.slice(i + 2, i + 6);
        if (!/^[0-9a-fA-F]{4}$/.test(hex)) {
          this.pos = i;
          this.fail('Bad unicode escape');
        }
        result += String.fromCharCode(parseInt(hex, 16));
        i += 6;
      } else if (code in ESCAPES) {
        result += ESCAPES[code];
        i += 2;
      } else {
        this.pos = i;
        this.fail('Bad escape');
      }
    }
    this.pos = i + 1;
    return result;
  }
}

export function isPlainObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}
