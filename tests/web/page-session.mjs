// What the page's tests do on the page as an owner would: connect, pick the unit's ports, run a
// version check or an update (answering the test package's question), and read what the page
// showed and logged. Every wait polls from Node, so none depends on the page's own timers.
const kLogPath = '/kv5update-session.log';

export const kReady = '11 11 1';
export const kUpdated = '11 00 1';

export class PageSession {
  constructor(tab) {
    this.tab = tab;
  }

  evaluate(expression, ms) {
    return this.tab.evaluate(expression, ms);
  }

  // Waits for the module, asks for MIDI access and waits for the dialog's lists.
  async connect(ms = 180000) {
    await this.tab.waitFor('window.kv5Page && kv5Page.module !== null', ms, 'the module to load');
    await this.tab.click('#connect');
    await this.tab.waitFor('kv5Page.started && document.getElementById("title").textContent !== ""',
      ms, 'the dialog to start');
    await this.tab.waitFor('document.getElementById("in-list").options.length > 0 || ' +
      '!document.getElementById("no-device").hidden', ms, 'the device lists');
  }

  // The entries of a list and its selection.
  list(id) {
    return this.evaluate(`(() => { const l = document.getElementById(${JSON.stringify(id)});
      return {entries: [...l.options].map((o) => o.text), selected: l.selectedIndex}; })()`);
  }

  // Picks an entry by name, as the owner does with the drop-down list.
  async select(id, name) {
    const picked = await this.evaluate(`(() => { const l = document.getElementById(${JSON.stringify(id)});
      const i = [...l.options].findIndex((o) => o.text === ${JSON.stringify(name)});
      if (i < 0) return false; l.selectedIndex = i; l.dispatchEvent(new Event('change')); return true; })()`);
    if (!picked) throw new Error(`no entry "${name}" in ${id}: ${JSON.stringify(await this.list(id))}`);
  }

  async selectPorts(inName, outName) {
    await this.select('in-list', inName);
    await this.select('out-list', outName);
  }

  // "lists execute+versionCheck rescan", 1 for enabled, as the desktop tests write the states.
  controlState() {
    return this.evaluate(`(() => { const on = (id) => document.getElementById(id).disabled ? '0' : '1';
      return on('in-list') + on('out-list') + ' ' + on('execute') + on('version-check') + ' ' +
        on('rescan'); })()`);
  }

  text(id) {
    return this.evaluate(`document.getElementById(${JSON.stringify(id)}).textContent`);
  }

  boxCount() {
    return this.evaluate('kv5Page.boxes.length');
  }

  // Waits for box number `index` (from 0), answers it and returns it.
  async answerBox(index, button, ms) {
    await this.tab.waitFor(`kv5Page.boxes.length > ${index}`, ms, `box ${index + 1}`);
    const box = await this.evaluate(`kv5Page.boxes[${index}]`);
    await this.tab.click(button);
    return box;
  }

  // A version check; the report box's text, or the error box's.
  async versionCheck(ms = 120000) {
    const boxes = await this.boxCount();
    await this.tab.click('#version-check');
    return this.answerBox(boxes, '#box-ok', ms);
  }

  // Starts an update and answers the test package's question with Yes.
  async startUpdate(ms = 60000) {
    const boxes = await this.boxCount();
    await this.tab.click('#execute');
    const question = await this.answerBox(boxes, '#box-yes', ms);
    if (question.caption !== 'Write the test package?') throw new Error('no test package question: ' + question.text);
    await this.tab.waitFor('kv5Page.busy || kv5Page.boxes.length > ' + (boxes + 1), ms, 'the session to start');
    return boxes + 1;
  }

  // Waits for the session to end; the boxes it showed.
  async sessionEnd(firstBox, ms) {
    await this.tab.waitFor('!kv5Page.busy', ms, 'the session to end', 500);
    return this.evaluate(`kv5Page.boxes.slice(${firstBox})`);
  }

  // The page's times of the last session (ms of the page's clock): the owner's answer to the
  // question (or the click), the first message sent, the end.
  marks() {
    return this.evaluate(`({...kv5Page.marks, firstSent: kv5Page.module.kv5Midi.firstSentAt})`);
  }

  // The session log, as the page offers it for download.
  log() {
    return this.evaluate(`kv5Page.module.FS.readFile(${JSON.stringify(kLogPath)}, {encoding: 'utf8'})`);
  }
}

// A session's own time in a log: from the first message sent to the outcome, in seconds.
export function sessionSeconds(log) {
  let first = null;
  for (const line of log.split('\n')) {
    const ms = Number(line.slice(0, 8));
    if (first === null && / ms {2}-> /.test(line)) first = ms;
    if (first !== null && / ms {2}outcome: /.test(line)) return (ms - first) / 1000;
  }
  return null;
}

// Where a session's chunks spent their time, from its log: the mean of "sent to answered" (the
// browser's MIDI path and the unit) and of "answered to the next chunk sent" (the page), in ms.
export function chunkTimes(log) {
  let sentAt = null;
  let answeredAt = null;
  const waits = [];
  const turns = [];
  for (const line of log.split('\n')) {
    const ms = Number(line.slice(0, 8));
    if (/ ms {2}-> write /.test(line)) {
      if (answeredAt !== null) turns.push(ms - answeredAt);
      sentAt = ms;
      answeredAt = null;
    } else if (/ ms {2}<- result code/.test(line) && sentAt !== null) {
      waits.push(ms - sentAt);
      answeredAt = ms;
      sentAt = null;
    }
  }
  const mean = (list) => (list.length ? list.reduce((a, b) => a + b, 0) / list.length : NaN);
  return {answerMs: mean(waits), pageMs: mean(turns)};
}

// The session's 500 ms pause after the unit entered update mode, as the log shows it: from the
// answer to "enter update mode" to the next request, in ms.
export function pauseAfterEnteringMs(log) {
  const lines = log.split('\n');
  const entered = lines.findIndex((line) => / ms {2}-> enter update mode /.test(line));
  if (entered < 0) return NaN;
  const answer = lines.slice(entered + 1).find((line) => / ms {2}<- /.test(line));
  const next = lines.slice(entered + 1).find((line) => / ms {2}-> /.test(line));
  return answer && next ? Number(next.slice(0, 8)) - Number(answer.slice(0, 8)) : NaN;
}
