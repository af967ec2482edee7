// A stand-in for the browser's MIDI access, put into a page before its scripts run: one device,
// "TELVOR Q9", whose far side answers every request inside the browser, its replies delivered as
// message events as a device's are: the identity reply, result 0 for every vendor request, and
// the BOOT stamp "1.00" for every read (so a session skips BOOT: 293 chunks). answerDelayMs holds
// each answer back that long. For what the page itself does and costs, apart from any transport.
export function standInUnit(answerDelayMs = 0) {
  return `(() => {
  const reply = {
    identity: [0xF0, 0x7E, 0x00, 0x06, 0x02, 0x7D, 0x4D, 0x00, 0x12, 0x00, 0x01, 0x02, 0x00, 0x00, 0xF7],
    result: [0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x00, 0xF7],
    read: [0xF0, 0x7D, 0x00, 0x4D, 0x60, 0x04, 0x30, 0x00, 0x00, 0x04, 0x00, 0x00, 0x31, 0x2E, 0x30,
      0x30, 0x12, 0x25, 0x03, 0x6B, 0x05, 0xF7],
  };
  const channel = new MessageChannel();
  const input = {id: 'in', name: 'TELVOR Q9', manufacturer: '', type: 'input', state: 'connected',
    onmidimessage: null, open() { return Promise.resolve(this); }, close() { return Promise.resolve(this); }};
  channel.port2.onmessage = (event) => {
    if (input.onmidimessage) input.onmidimessage({data: new Uint8Array(event.data)});
  };
  const output = {id: 'out', name: 'TELVOR Q9', manufacturer: '', type: 'output', state: 'connected',
    open() { return Promise.resolve(this); }, close() { return Promise.resolve(this); },
    send(data) {
      const answer = data[1] === 0x7E ? reply.identity : data[4] === 0x60 ? reply.read : reply.result;
      if (${answerDelayMs} > 0) setTimeout(() => channel.port1.postMessage(answer), ${answerDelayMs});
      else channel.port1.postMessage(answer);
    }};
  navigator.requestMIDIAccess = () => Promise.resolve({sysexEnabled: true,
    inputs: new Map([['in', input]]), outputs: new Map([['out', output]]), addEventListener() {}});
})();`;
}
