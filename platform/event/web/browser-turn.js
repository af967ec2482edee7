// The browser's side of the page's turns: a timer that starts a turn when the earliest wait of a
// fiber runs out. In a page the timer runs in a small worker, whose timers the browser does not
// slow down while the tab is hidden (the page's own are held to one a second or less); its
// message starts the turn. Elsewhere (Node, or a page that may not start workers) a plain timer.
mergeInto(LibraryManager.library, {
  $kv5TurnTimer: {
    worker: null,
    timeout: null,
    delay: -1,  // the last delay asked for, armed again on the plain timer should the worker fail
    due: function() {
      Module['_kv5_browser_timer_due']();
    },
    start: function() {
      if (kv5TurnTimer.worker !== null || typeof Worker === 'undefined' ||
          typeof Blob === 'undefined' || typeof URL === 'undefined') return;
      try {
        var source = 'var t = 0; onmessage = function(e) { clearTimeout(t); ' +
                     'if (e.data >= 0) t = setTimeout(function() { postMessage(0); }, e.data); };';
        var url = URL.createObjectURL(new Blob([source], {type: 'text/javascript'}));
        kv5TurnTimer.worker = new Worker(url);
        kv5TurnTimer.worker.onmessage = kv5TurnTimer.due;
        // A host's content policy may forbid the worker: the plain timer then, armed again.
        kv5TurnTimer.worker.onerror = function() {
          kv5TurnTimer.worker = false;
          kv5TurnTimer.plain(kv5TurnTimer.delay);
        };
      } catch (e) {
        kv5TurnTimer.worker = false;
      }
    },
    plain: function(delayMs) {
      if (kv5TurnTimer.timeout !== null) clearTimeout(kv5TurnTimer.timeout);
      kv5TurnTimer.timeout = null;
      if (delayMs >= 0) {
        kv5TurnTimer.timeout = setTimeout(function() {
          kv5TurnTimer.timeout = null;
          kv5TurnTimer.due();
        }, delayMs);
      }
    },
  },
  kv5_arm_turn_timer__deps: ['$kv5TurnTimer'],
  kv5_arm_turn_timer: function(delayMs) {
    kv5TurnTimer.start();
    kv5TurnTimer.delay = delayMs;
    if (kv5TurnTimer.worker) {
      kv5TurnTimer.worker.postMessage(delayMs);
    } else {
      kv5TurnTimer.plain(delayMs);
    }
  },
  // Settles a BrowserPromise's ticket with a number (later, never inside the call that started it).
  $kv5Settle: function(ticket, value) {
    Module['_kv5_browser_settled'](ticket, value);
  },
  kv5_end_program: function(code) {
    if (typeof process !== 'undefined' && process.exit) process.exit(code);
    throw 'program ended with ' + code;
  },
});
