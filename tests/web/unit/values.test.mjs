import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { kindOf, limitsLabel, prepareInput, typeLabel } from '../../../web/js/values.js';

const int = { max: '255', min: '0', type: 'int', value: '1' };
const float = { max: '1', min: '-1', type: 'float', value: '0.000000' };
const buffer = { max: '4', min: '0', type: 'string', value: '00000000' };
const text = { max: '0', min: '0', type: 'string', value: '' };
const choice = { value: 'Present', type: 'MotorStatus', textid: ['Unknown', 'Present'] };

describe('kinds of values', () => {
  it('tells descriptions, structures, lists and failures apart', () => {
    assert.equal(kindOf(int), 'int');
    assert.equal(kindOf(choice), 'choice');
    assert.equal(kindOf({ value: 'true', type: 'bool', textid: ['false', 'true'] }), 'choice');
    assert.equal(kindOf(text), 'text');
    assert.equal(kindOf({ CalActive: choice, ActPosition: int }), 'struct');
    assert.equal(kindOf([{ a: int }]), 'list');
    assert.equal(kindOf({ ERROR: 'x' }), 'error');
  });

  it('labels buffers apart from strings', () => {
    assert.equal(typeLabel(buffer), 'buffer');
    assert.equal(limitsLabel(buffer), '4 bytes, hex');
    assert.equal(typeLabel(text), 'string');
    assert.equal(limitsLabel(text), '');
    assert.equal(limitsLabel(int), '0 … 255');
  });
});

describe('typed input', () => {
  it('sends integers in plain decimal, hexadecimal input included', () => {
    assert.deepEqual(prepareInput(int, ' 0x1F '), { text: '31' });
    assert.deepEqual(prepareInput(int, '017'), { text: '17' });
    assert.deepEqual(prepareInput({ ...int, min: '-10' }, '-0x0a'), { text: '-10' });
  });

  it('refuses what the value cannot hold', () => {
    for (const [desc, typed] of [[int, '256'], [int, '-1'], [int, '12abc'], [int, ''], [int, '1.5'],
      [float, '1.01'], [float, 'abc'], [float, '1e'], [buffer, '0A0'], [buffer, '0G'], [buffer, '0102030405'],
      [choice, 'present'], [{ ERROR: 'x' }, '1']]) {
      assert.ok(prepareInput(desc, typed).error, `${JSON.stringify(typed)} for ${JSON.stringify(desc)}`);
    }
  });

  it('passes texts as typed and numbers within their limits', () => {
    assert.deepEqual(prepareInput(text, '  spaced  '), { text: '  spaced  ' });
    assert.deepEqual(prepareInput(float, '-1'), { text: '-1' });
    assert.deepEqual(prepareInput(float, '.5e0'), { text: '.5e0' });
    assert.deepEqual(prepareInput(buffer, '0a0B'), { text: '0a0B' });
    assert.deepEqual(prepareInput(choice, 'Unknown'), { text: 'Unknown' });
  });
});
