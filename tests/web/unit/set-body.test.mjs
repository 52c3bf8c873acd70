import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { setBody, UnsendableValue } from '../../../web/js/set-body.js';

describe('set bodies', () => {
  it('address a variable, a field of a structure and a field of a list element', () => {
    assert.equal(setBody({ memory: 'MemLens', variable: 'LensFileSave' }, 'abc'), '{"MemLens": {"LensFileSave": "abc"}}');
    assert.equal(setBody({ memory: 'MemMotors', variable: 'FocusMotor', field: 'GearTeethSet' }, '12'),
      '{"MemMotors": {"FocusMotor": {"GearTeethSet": "12"}}}');
    assert.equal(setBody({ memory: 'MemCamera', variable: 'CamClipList0', index: 3, field: 'CamClipName' }, 'x'),
      '{"MemCamera": {"Index": 3, "CamClipList0": {"CamClipName": "x"}}}');
  });

  it('carry texts verbatim, in the quote they do not contain', () => {
    const target = { memory: 'M', variable: 'V' };
    assert.equal(setBody(target, 'a "b" \\c'), `{"M": {"V": 'a "b" \\c'}}`);
    assert.equal(setBody(target, "it's"), `{"M": {"V": "it's"}}`);
    assert.equal(setBody(target, ''), '{"M": {"V": ""}}');
    assert.throws(() => setBody(target, `"'`), UnsendableValue);
  });
});
