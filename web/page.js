// The updater page's script: it asks for MIDI access on the owner's click, starts the updater's
// program (the WebAssembly module) with that access, and draws what the program's dialog shows:
// the two device lists, the buttons, the step counter, the status line, the progress bar and the
// modal boxes. While a session runs it keeps the tab from being left, frozen or dimmed.
'use strict';

(function () {
  // The dialog's control ids, as the program names them.
  const IDC_EXECUTE = 1;
  const IDC_IN_DEVICE_LIST = 1000;
  const IDC_OUT_DEVICE_LIST = 1001;
  const IDC_STATUS_LINE = 1003;
  const IDC_RESCAN = 1004;
  const IDC_STEP_COUNTER = 1006;
  const IDC_VERSION_CHECK = 1007;
  const LOG_PATH = '/kv5update-session.log';

  const $ = (id) => document.getElementById(id);
  const controls = {
    [IDC_EXECUTE]: $('execute'),
    [IDC_IN_DEVICE_LIST]: $('in-list'),
    [IDC_OUT_DEVICE_LIST]: $('out-list'),
    [IDC_RESCAN]: $('rescan'),
    [IDC_VERSION_CHECK]: $('version-check'),
  };
  const texts = {[IDC_STATUS_LINE]: $('status-line'), [IDC_STEP_COUNTER]: $('step-counter')};

  // What the page's tests read: the boxes shown, the session's course and its times.
  const page = {
    module: null,
    started: false,
    busy: false,
    sessions: 0,
    boxes: [],
    marks: {},
    refused: null,
  };
  window.kv5Page = page;

  const userAgent = navigator.userAgent;
  const isFirefox = /Firefox\//.test(userAgent);
  const isChromeOS = /CrOS/.test(userAgent);
  const isLinux = !isChromeOS && /Linux/.test(userAgent) && !/Android/.test(userAgent);

  function show(element, visible) {
    element.hidden = !visible;
  }

  function problem(text) {
    const message = $('access-message');
    message.textContent = text;
    show(message, true);
  }

  // ---- The program's module, loaded as soon as the page is there.

  let moduleReady = null;
  function loadModule() {
    if (moduleReady) return moduleReady;
    moduleReady = new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = 'kv5updater.js';
      script.onload = () => resolve();
      script.onerror = () => reject(new Error('kv5updater.js could not be loaded'));
      document.head.appendChild(script);
    }).then(() => createKv5Updater({page: view}))
      .then((module) => {
        page.module = module;
        if (module._kv5_page_test_package()) view.title(document.title + ' (test package)');
        return module;
      });
    return moduleReady;
  }

  // ---- MIDI access, asked for on the owner's click.

  function accessProblem(error) {
    const name = error && error.name;
    if (name === 'NotAllowedError' || name === 'SecurityError') {
      if (isFirefox) {
        return 'MIDI access was not granted. Firefox grants it through a small site permission ' +
          'add-on that it offers for this site: press Connect to MIDI devices again and allow ' +
          'the add-on to be installed (it can be removed later under Add-ons, Site permissions).';
      }
      return 'MIDI access was not allowed, so the page cannot reach the unit. Allow MIDI ' +
        'devices for this site (in the site settings, from the icon at the left of the address ' +
        'bar), then press Connect to MIDI devices again.';
    }
    // No MIDI system at all (Linux without its sequencer): there is no device to reach.
    return 'No MIDI device: the browser found no MIDI system on this computer (' +
      (error && error.message || error) + '). Connect the unit, powered up in its firmware ' +
      'update mode, and press Connect to MIDI devices again.';
  }

  async function connect() {
    $('connect').disabled = true;
    show($('access-message'), false);
    let access;
    try {
      access = await navigator.requestMIDIAccess({sysex: true});
    } catch (error) {
      problem(accessProblem(error));
      $('connect').disabled = false;
      return;
    }
    let module;
    try {
      module = await loadModule();
    } catch (error) {
      problem('The updater could not be loaded: ' + (error.message || error) + '. Reload the page.');
      $('connect').disabled = false;
      return;
    }
    module.kv5Midi.setAccess(access);
    show($('start'), false);
    show($('dialog'), true);
    page.started = true;
    module._kv5_page_start();
  }

  // Where the browser cannot reach MIDI at all, the page says so instead of offering the button.
  function checkBrowser() {
    if (!window.isSecureContext) {
      problem('This page must be opened over HTTPS (or from http://localhost): only there does ' +
        'the browser give MIDI access with System Exclusive messages.');
      $('connect').disabled = true;
      return false;
    }
    if (typeof navigator.requestMIDIAccess !== 'function') {
      problem('This browser has no Web MIDI, so the page cannot reach the unit (Safari and ' +
        'browsers on iPhone and iPad have none). Open the page in Chrome, Edge or Opera, or in ' +
        'Firefox, on macOS, Windows, Linux or ChromeOS; or use the desktop updater.');
      $('connect').disabled = true;
      return false;
    }
    if (isFirefox) {
      const note = $('browser-note');
      note.textContent = 'Firefox asks you to install a small site permission add-on for this ' +
        'site the first time: it is how Firefox grants MIDI access. Allow it.';
      show(note, true);
    }
    return true;
  }

  // ---- The dialog's view: what the program draws.

  function listOf(id) {
    return controls[id];
  }

  function refreshNoDevice() {
    const empty = listOf(IDC_IN_DEVICE_LIST).options.length === 0 &&
      listOf(IDC_OUT_DEVICE_LIST).options.length === 0;
    show($('no-device'), empty);
  }

  // The step counter, status line and progress bar change with every chunk, hundreds of times a
  // second: they are drawn at most four times a second (a frame for every chunk would slow the
  // browser, and hence the update, on a slow machine), and a screen reader hears the status line
  // only when its words change, not its numbers.
  const drawing = {
    texts: {},
    progress: null,
    timer: null,
    last: 0,
    words: '',
    schedule() {
      if (drawing.timer !== null) return;
      const wait = Math.max(0, 250 - (performance.now() - drawing.last));
      drawing.timer = setTimeout(drawing.flush, wait);
    },
    flush() {
      if (drawing.timer !== null) clearTimeout(drawing.timer);
      drawing.timer = null;
      drawing.last = performance.now();
      for (const [id, value] of Object.entries(drawing.texts)) texts[id].textContent = value;
      if (IDC_STATUS_LINE in drawing.texts) {
        const words = drawing.texts[IDC_STATUS_LINE].replace(/[0-9]/g, '');
        if (words !== drawing.words) $('status-words').textContent = drawing.texts[IDC_STATUS_LINE];
        drawing.words = words;
      }
      drawing.texts = {};
      if (drawing.progress) {
        const [lower, upper, position] = drawing.progress;
        const bar = $('progress');
        bar.max = Math.max(1, upper - lower);
        bar.value = Math.min(Math.max(position - lower, 0), bar.max);
        drawing.progress = null;
      }
    },
  };

  const boxQueue = [];
  let boxShown = null;

  function nextBox() {
    if (boxShown || boxQueue.length === 0) return;
    boxShown = boxQueue.shift();
    const dialog = $('box');
    const kind = ['error', 'information', 'question'][boxShown.icon] || 'information';
    $('box-icon').className = kind;
    $('box-title').textContent = boxShown.caption;
    $('box-text').textContent = boxShown.text;
    $('box-detail').textContent = boxShown.detail;
    show($('box-detail'), boxShown.detail !== '');
    const question = kind === 'question';
    show($('box-yes'), question);
    show($('box-no'), question);
    show($('box-ok'), !question);
    dialog.setAttribute('role', question || kind === 'error' ? 'alertdialog' : 'dialog');
    boxShown.returnFocus = document.activeElement;
    dialog.showModal();
    // A question's default is No: the owner must choose Yes on purpose.
    (question ? $('box-no') : $('box-ok')).focus();
  }

  function answerBox(answer) {
    if (!boxShown) return;
    const shown = boxShown;
    boxShown = null;
    $('box').close();
    page.boxes[shown.index].answer = answer;
    if (shown.returnFocus && shown.returnFocus.focus) shown.returnFocus.focus();
    shown.done(answer);
    nextBox();
  }

  const view = {
    title(text) {
      document.title = text;
      $('title').textContent = text;
      show($('test-package'), / \(test package\)$/.test(text));
    },
    enable(id, on) {
      if (controls[id]) controls[id].disabled = !on;
    },
    text(id, value) {
      drawing.texts[id] = value;
      drawing.schedule();
    },
    listReset(id) {
      listOf(id).replaceChildren();
      refreshNoDevice();
    },
    listAdd(id, text) {
      const option = document.createElement('option');
      option.textContent = text;
      listOf(id).appendChild(option);
      listOf(id).selectedIndex = -1;
      refreshNoDevice();
    },
    listSelect(id, index) {
      listOf(id).selectedIndex = index;
    },
    progress(lower, upper, position) {
      drawing.progress = [lower, upper, position];
      drawing.schedule();
    },
    aboutEntry(command, text) {
      const about = $('about');
      // "(&A)" marks the menu's access key.
      const key = /\(&(.)\)/.exec(text);
      about.textContent = text.replace(/\(&.\)/, '');
      if (key) about.accessKey = key[1].toLowerCase();
      about.dataset.command = String(command);
      show(about, true);
    },
    aboutBox(title, note) {
      view.box(title + '\n\n' + note, 'About TELVOR Q5 Updater', 1, '', () => {});
    },
    // A modal box, detail a paragraph under its text (what to do next) when not empty; done(1) for
    // OK or Yes, done(0) for No, always after this call has returned.
    box(text, caption, icon, detail, done) {
      drawing.flush();  // the box comes with the displays as they stand
      const index = page.boxes.length;
      page.boxes.push({text, caption, icon, detail, answer: null});
      boxQueue.push({text, caption, icon, detail, index,
                     done: (answer) => setTimeout(() => done(answer))});
      nextBox();
    },
    session(busy) {
      page.busy = busy;
      if (busy) {
        page.sessions += 1;
        $('download-log').disabled = false;
        show($('refused-advice'), false);
        guards.hold();
      } else {
        page.marks.ended = performance.now();
        drawing.flush();
        guards.release();
      }
    },
    refusedChunk(address, attempts) {
      page.refused = {address, attempts};
      const advice = $('refused-advice');
      advice.replaceChildren();
      const lines = refusedAdvice(attempts);
      for (const line of lines) {
        const paragraph = document.createElement('p');
        paragraph.innerHTML = line;
        advice.appendChild(paragraph);
      }
      show(advice, true);
    },
  };

  // What the owner can do when the unit keeps refusing the same piece of the firmware.
  function refusedAdvice(attempts) {
    const first = 'The unit has refused the same piece of the firmware ' + attempts +
      ' times: it keeps arriving damaged. The update resends it, but may take long or fail.';
    if (isLinux) {
      return [first,
        'On Linux the system\'s MIDI sequencer passes at most 4096 bytes at a time to a sound ' +
          'card\'s MIDI port and drops the rest, and the updater\'s messages are 4700 bytes long.',
        'Update with the desktop updater (<code>kv5updater</code> or <code>kv5update</code>), ' +
          'which writes to the card directly; or raise the sequencer\'s buffer, as root: ' +
          '<code>echo 65536 &gt; /sys/module/snd_seq_midi/parameters/output_buffer_size</code> ' +
          '(for good: <code>options snd-seq-midi output_buffer_size=65536</code> in a file under ' +
          '<code>/etc/modprobe.d/</code>), then unplug and plug in the unit and reload this page.'];
    }
    if (isChromeOS) {
      return [first,
        'ChromeOS passes at most 4096 bytes at a time to a USB MIDI device and drops the rest, ' +
          'and the updater\'s messages are 4700 bytes long. Update the unit from a computer with ' +
          'Windows, macOS or Linux instead.'];
    }
    return [first, 'Check the cable, and connect the unit directly rather than through a hub or ' +
      'a MIDI interface that may cut long System Exclusive messages.'];
  }

  // ---- While a session runs: no leaving by accident, no sleeping screen, no frozen tab.

  const guards = {
    tabName: Math.random().toString(36).slice(2) + Date.now().toString(36),
    wakeLock: null,
    releaseWebLock: null,
    active: false,
    async hold() {
      guards.active = true;
      window.addEventListener('beforeunload', guards.beforeUnload);
      guards.keepAwake();
      if (navigator.locks && !guards.releaseWebLock) {
        // A tab that holds a Web Lock is not frozen by the browser; the name is this tab's own,
        // so that a session in another tab does not queue behind it.
        navigator.locks.request('kv5update session ' + guards.tabName, () => new Promise((release) => {
          guards.releaseWebLock = release;
        })).catch(() => {});
      }
    },
    release() {
      guards.active = false;
      window.removeEventListener('beforeunload', guards.beforeUnload);
      if (guards.wakeLock) guards.wakeLock.release().catch(() => {});
      guards.wakeLock = null;
      if (guards.releaseWebLock) guards.releaseWebLock();
      guards.releaseWebLock = null;
    },
    beforeUnload(event) {
      event.preventDefault();
      event.returnValue = '';
    },
    async keepAwake() {
      if (!guards.active || guards.wakeLock || !navigator.wakeLock ||
          document.visibilityState !== 'visible') return;
      try {
        guards.wakeLock = await navigator.wakeLock.request('screen');
        guards.wakeLock.addEventListener('release', () => {
          guards.wakeLock = null;
        });
      } catch (error) {
        guards.wakeLock = null;  // not granted (battery saver, a hidden tab): the update goes on
      }
    },
  };
  // The browser releases a wake lock when the tab is hidden; it is taken again on return.
  document.addEventListener('visibilitychange', () => guards.keepAwake());

  // ---- The session log, as the command line's --log writes it.

  function downloadLog() {
    if (!page.module) return;
    let text;
    try {
      text = page.module.FS.readFile(LOG_PATH, {encoding: 'utf8'});
    } catch (error) {
      return;
    }
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([text], {type: 'text/plain'}));
    link.download = 'kv5update-session.log';
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  }

  // ---- The owner's input.

  function command(id) {
    if (!page.module) return;
    if (id === IDC_EXECUTE || id === IDC_VERSION_CHECK) {
      page.marks = {clicked: performance.now()};
      page.module.kv5Midi.firstSentAt = null;
    }
    page.module._kv5_page_command(id);
  }

  function wire() {
    $('connect').addEventListener('click', connect);
    $('execute').addEventListener('click', () => command(IDC_EXECUTE));
    $('version-check').addEventListener('click', () => command(IDC_VERSION_CHECK));
    $('rescan').addEventListener('click', () => command(IDC_RESCAN));
    $('about').addEventListener('click', (event) => command(Number(event.target.dataset.command)));
    $('download-log').addEventListener('click', downloadLog);
    for (const id of [IDC_IN_DEVICE_LIST, IDC_OUT_DEVICE_LIST]) {
      listOf(id).addEventListener('change', () => {
        if (page.module) page.module._kv5_page_select(id, listOf(id).selectedIndex);
      });
    }
    $('box-ok').addEventListener('click', () => answerBox(1));
    $('box-yes').addEventListener('click', () => {
      page.marks.answered = performance.now();
      answerBox(1);
    });
    $('box-no').addEventListener('click', () => answerBox(0));
    // Escape: OK for a message, No for a question.
    $('box').addEventListener('cancel', (event) => {
      event.preventDefault();
      answerBox(boxShown && boxShown.icon === 2 ? 0 : 1);
    });
  }

  wire();
  if (checkBrowser()) loadModule().catch(() => {});
})();
