import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { afterLogAnswer, LogMarkup, splitLogAnswer } from '../../../web/js/log-text.js';

const bytes = (text) => new TextEncoder().encode(text);

describe('log answers', () => {
  it('split into the length line and the text, counted in bytes', () => {
    const { length, body } = splitLogAnswer(bytes('500\r\nä<span>\r\n'));
    assert.equal(length, 500);
    assert.equal(body.length, 10);
    assert.throws(() => splitLogAnswer(bytes('oops')));
    assert.throws(() => splitLogAnswer(bytes('x1\r\n')));
  });

  it('continue after the offset asked for, or replace everything when the service sent all', () => {
    assert.deepEqual(afterLogAnswer(0, 500, 500), { restart: true, offset: 500 });
    assert.deepEqual(afterLogAnswer(200, 500, 300), { restart: false, offset: 500 });
    assert.deepEqual(afterLogAnswer(500, 500, 120), { restart: false, offset: 620 }); // held, then answered
    assert.deepEqual(afterLogAnswer(900, 500, 500), { restart: true, offset: 500 }); // the service restarted
  });
});

describe('log markup', () => {
  it('turns the service\'s spans into tokens and keeps other markup as text', () => {
    const tokens = new LogMarkup().feed("<span style='color: #00AA00'>[1.0]</span> a <b> & <span style=''>x</span></span>");
    assert.deepEqual(tokens, [
      { open: 'color: #00AA00' }, { text: '[1.0]' }, { close: true }, { text: ' a <b> & ' },
      { open: '' }, { text: 'x' }, { close: true }, { close: true },
    ]);
  });

  it('drops styles other than a plain colour', () => {
    const [token] = new LogMarkup().feed("<span style='background: url(http://x)'>");
    assert.deepEqual(token, { open: '' });
    assert.deepEqual(new LogMarkup().feed("<span style='background-color: #5555FF'>"), [{ open: 'background-color: #5555FF' }]);
  });

  it('completes a tag cut between two answers', () => {
    const markup = new LogMarkup();
    assert.deepEqual(markup.feed("ok <span style='col"), [{ text: 'ok ' }]);
    assert.deepEqual(markup.feed("or: #AA0000'>E</sp"), [{ open: 'color: #AA0000' }, { text: 'E' }]);
    assert.deepEqual(markup.feed('an>\n'), [{ close: true }, { text: '\n' }]);
    assert.deepEqual(markup.feed('a < b'), [{ text: 'a < b' }]);
  });
});
