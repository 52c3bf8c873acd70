import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { parseDocument, ParseError } from '../../../web/js/tolerant-json.js';

const desc = (value) => `{"max":"9","min":"0","type":"int","value":"${value}"}`;

describe('variable documents', () => {
  it('reads a tree whose values failed to render, in place and in lists', () => {
    const text = '{\r\n"id": 7,\r\n"variables": {"MemA" : {"x" : "ERROR": "Index exceeds limit","y" : '
      + `${desc(1)}},"MemB" : {"list" : [{"f": ${desc(2)}},"ERROR": "Unknown enum "Foo"",{"f": ${desc(3)}}]}}}\r\n`;
    const document = parseDocument(text);
    assert.equal(document.id, 7);
    assert.deepEqual(document.variables.MemA.x, { ERROR: 'Index exceeds limit' });
    assert.equal(document.variables.MemA.y.value, '1');
    const list = document.variables.MemB.list;
    assert.deepEqual(list[1], { ERROR: 'Unknown enum "Foo"' });
    assert.equal(list[2].f.value, '3');
  });

  it('merges memory blocks that an update answer opens more than once', () => {
    const text = '{\r\n"id": 1,\r\n"errors": [],\r\n"variables": {\r\n  "MemA" : {\r\n    "x" : '
      + `${desc(1)}\r\n  }, \r\n  "MemB" : {\r\n    "y" : ${desc(2)}\r\n  }, \r\n  "MemA" : {\r\n    "z" : `
      + `${desc(3)}\r\n  }\r\n}\r\n}\r\n`;
    const { variables } = parseDocument(text);
    assert.deepEqual(Object.keys(variables.MemA), ['x', 'z']);
    assert.equal(variables.MemB.y.value, '2');
  });

  it('accepts the extra closing brace of an answer without variables', () => {
    assert.deepEqual(parseDocument('{"errors": ["e"],\r\n"variables": {\r\n  }\r\n}\r\n}\r\n'),
      { errors: ['e'], variables: {} });
  });

  it('decodes escapes in texts, and leaves an ordinary "ERROR" value alone', () => {
    const document = parseDocument('{"a": {"value":"say \\"hi\\" \\\\ \\u000d\\n", "type": "string" }, "b": "ERROR"}');
    assert.equal(document.a.value, 'say "hi" \\ \r\n');
    assert.equal(document.b, 'ERROR');
  });

  it('reports where a broken document breaks', () => {
    assert.throws(() => parseDocument('{"a": 1 "b": 2}'), (error) => error instanceof ParseError && error.position === 8);
    assert.throws(() => parseDocument('{"a": "open'), ParseError);
    assert.throws(() => parseDocument('{"a": "ERROR": 5}'), ParseError);
  });
});
