import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { Store } from '../../../web/js/store.js';

const value = (text) => ({ max: '9', min: '0', type: 'int', value: text });
const tree = (x, marker) => ({
  variables: { MemLens: { x: value(x), Marker0: value(marker) }, MemLensMarkers: { Marker0: value(marker) } },
});

describe('the page\'s copy of the variables', () => {
  it('reports a changed set of variables on load, and only changed values after that', () => {
    const store = new Store();
    assert.equal(store.load(tree('1', '2')), null);
    assert.deepEqual(store.load(tree('1', '2')), []);
    assert.deepEqual(store.load(tree('5', '2')), [{ memory: 'MemLens', variable: 'x', value: value('5') }]);
    assert.equal(store.load({ variables: { MemLens: { x: value('5') } } }), null);
    assert.equal(store.get('MemLensMarkers', 'Marker0'), undefined);
  });

  it('moves every listing of a variable that the service reports under one memory', () => {
    const store = new Store();
    store.load(tree('1', '2'));
    const changes = store.apply({ variables: { MemLensMarkers: { Marker0: value('7') } } });
    assert.deepEqual(changes.map((change) => change.memory).sort(), ['MemLens', 'MemLensMarkers']);
    assert.deepEqual(store.get('MemLens', 'Marker0'), value('7'));
  });

  it('ignores unchanged and unknown variables, and refuses answers without variables', () => {
    const store = new Store();
    store.load(tree('1', '2'));
    assert.deepEqual(store.apply({ variables: { MemLens: { x: value('1'), nope: value('3') }, MemNope: { y: value('1') } } }), []);
    assert.throws(() => store.apply({ errors: [] }));
    assert.throws(() => store.load('text'));
  });
});
