// Drives Debian's Chromium for the page's tests with plain Node: the DevTools protocol on a pipe
// (--remote-debugging-pipe, no npm package), a static server for the site folder on 127.0.0.1,
// and the few page operations the tests need (evaluate, wait for a condition, click, screenshot).
// The browser starts without the flags that switch off background throttling: a hidden tab is
// throttled as an owner's would be.
import {spawn} from 'node:child_process';
import {createReadStream, mkdtempSync, openSync, rmSync, statSync} from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.mjs': 'text/javascript',
  '.css': 'text/css',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
};

// Serves folder on 127.0.0.1 (any free port); resolves to {origin, close()}.
export function serveFolder(folder) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    const file = path.join(folder, name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(folder) || !statSync(file, {throwIfNoEntry: false})?.isFile()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, {'content-type': kTypes[path.extname(file)] || 'application/octet-stream'});
    createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => {
      resolve({
        origin: `http://127.0.0.1:${server.address().port}`,
        close: () => new Promise((done) => server.close(done)),
      });
    });
  });
}

export class Browser {
  // binary: the Chromium executable; startMs: how long its start may take (minutes in the guest).
  static async launch(binary, {startMs = 60000, window = null} = {}) {
    const profile = mkdtempSync(path.join(os.tmpdir(), 'kv5-chromium-'));
    const args = [
      '--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run',
      '--no-default-browser-check', '--disable-extensions', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-quic',
      `--user-data-dir=${profile}`, '--remote-debugging-pipe', 'about:blank',
    ];
    if (window) args.unshift(`--window-size=${window}`);
    const child = spawn(binary, args, {
      stdio: ['ignore', 'ignore', openSync(path.join(profile, 'stderr.txt'), 'w'), 'pipe', 'pipe'],
    });
    const browser = new Browser(child, profile);
    await browser.within(startMs, browser.send('Browser.getVersion'), 'the browser to start');
    return browser;
  }

  constructor(child, profile) {
    this.child = child;
    this.profile = profile;
    this.nextId = 0;
    this.pending = new Map();
    this.listeners = [];
    this.exited = null;
    let inbox = Buffer.alloc(0);
    child.stdio[4].on('data', (chunk) => {
      inbox = Buffer.concat([inbox, chunk]);
      for (let end; (end = inbox.indexOf(0)) >= 0; inbox = inbox.subarray(end + 1)) {
        this.dispatch(JSON.parse(inbox.subarray(0, end).toString()));
      }
    });
    child.on('exit', (code, signal) => {
      this.exited = `the browser exited (${code ?? signal})`;
      for (const waiter of this.pending.values()) waiter.reject(new Error(this.exited));
    });
  }

  dispatch(message) {
    if (message.id === undefined) {
      for (const listener of this.listeners) listener(message);
      return;
    }
    const waiter = this.pending.get(message.id);
    if (!waiter) return;
    this.pending.delete(message.id);
    if (message.error) waiter.reject(new Error(`${waiter.method}: ${JSON.stringify(message.error)}`));
    else waiter.resolve(message.result);
  }

  send(method, params = {}, sessionId = undefined) {
    if (this.exited) return Promise.reject(new Error(this.exited));
    const id = ++this.nextId;
    this.child.stdio[3].write(JSON.stringify({id, method, params, sessionId}) + '\0');
    return new Promise((resolve, reject) => this.pending.set(id, {resolve, reject, method}));
  }

  within(ms, promise, what) {
    let timer;
    const limit = new Promise((_, reject) => {
      timer = setTimeout(() => reject(new Error(`${what}: nothing within ${ms} ms`)), ms);
    });
    return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
  }

  // Opens url in a new tab; midi: whether the origin may use MIDI with SysEx without a prompt.
  async open(url, {midi = true, beforeLoad = null} = {}) {
    const origin = new URL(url).origin;
    if (midi) await this.send('Browser.grantPermissions', {origin, permissions: ['midi', 'midiSysex']});
    else await this.send('Browser.resetPermissions');
    const {targetId} = await this.send('Target.createTarget', {url: 'about:blank'});
    const {sessionId} = await this.send('Target.attachToTarget', {targetId, flatten: true});
    const tab = new Tab(this, targetId, sessionId);
    await this.send('Page.enable', {}, sessionId);
    await this.send('Runtime.enable', {}, sessionId);
    if (beforeLoad) {
      await this.send('Page.addScriptToEvaluateOnNewDocument', {source: beforeLoad}, sessionId);
    }
    const loaded = tab.event('Page.loadEventFired');
    await this.send('Page.navigate', {url}, sessionId);
    await this.within(120000, loaded, `loading ${url}`);
    return tab;
  }

  async close() {
    if (!this.exited) {
      const exited = new Promise((resolve) => this.child.once('exit', resolve));
      // Closed the way a user closes it, so that its helper processes end with it.
      await this.within(10000, this.send('Browser.close'), 'closing the browser').catch(() => {});
      await this.within(10000, exited, 'the browser to exit').catch(() => this.child.kill('SIGKILL'));
    }
    // Its helper processes may still write into the profile for a moment.
    for (let tries = 0; ; tries++) {
      try {
        rmSync(this.profile, {recursive: true, force: true});
        return;
      } catch (error) {
        if (tries > 50) throw error;
        await new Promise((resolve) => setTimeout(resolve, 100));
      }
    }
  }
}

export class Tab {
  constructor(browser, targetId, sessionId) {
    this.browser = browser;
    this.targetId = targetId;
    this.sessionId = sessionId;
    this.console = [];
    browser.listeners.push((message) => {
      if (message.sessionId !== sessionId) return;
      if (message.method === 'Runtime.consoleAPICalled') {
        this.console.push(message.params.args.map((a) => a.value ?? a.description).join(' '));
      } else if (message.method === 'Runtime.exceptionThrown') {
        this.console.push('exception: ' + JSON.stringify(message.params.exceptionDetails).slice(0, 500));
      }
    });
  }

  send(method, params = {}) {
    return this.browser.send(method, params, this.sessionId);
  }

  event(method) {
    return new Promise((resolve) => {
      const listener = (message) => {
        if (message.sessionId !== this.sessionId || message.method !== method) return;
        this.browser.listeners.splice(this.browser.listeners.indexOf(listener), 1);
        resolve(message.params);
      };
      this.browser.listeners.push(listener);
    });
  }

  // The value of an expression in the page (awaited when it is a promise).
  async evaluate(expression, ms = 60000) {
    const result = await this.browser.within(ms,
      this.send('Runtime.evaluate', {expression, awaitPromise: true, returnByValue: true}),
      expression.slice(0, 60));
    if (result.exceptionDetails) {
      throw new Error(`${expression.slice(0, 60)}: ${JSON.stringify(result.exceptionDetails).slice(0, 400)}`);
    }
    return result.result.value;
  }

  // Polls an expression every `every` ms until it is truthy; its value. The poll runs in Node,
  // so it needs no timer of the page's (which a hidden tab would slow down); each poll costs the
  // page a little, so long waits poll seldom.
  async waitFor(expression, ms, what = expression, every = 50) {
    const end = Date.now() + ms;
    for (;;) {
      const value = await this.evaluate(expression);
      if (value) return value;
      if (Date.now() > end) throw new Error(`${what}: not within ${ms} ms`);
      await new Promise((resolve) => setTimeout(resolve, every));
    }
  }

  // A click as the owner gives it: the element's own click, which the page handles like a mouse's.
  click(selector) {
    return this.evaluate(`(() => { const e = document.querySelector(${JSON.stringify(selector)});
      if (!e || e.disabled || e.hidden) throw new Error('cannot click ${selector}'); e.click(); })()`);
  }

  async screenshot(file) {
    const {data} = await this.send('Page.captureScreenshot', {format: 'png'});
    const {writeFileSync} = await import('node:fs');
    writeFileSync(file, Buffer.from(data, 'base64'));
  }
}
