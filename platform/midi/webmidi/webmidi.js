// The browser's side of the Web MIDI backend: the MIDIAccess the page was granted, the ports of
// the last lists, the ports the program has open, and the events that reach the program (each
// in a turn of its own). A port disconnecting (statechange) while open, or a send that finds it
// gone, makes that open device vanish at once.
mergeInto(LibraryManager.library, {
  $kv5Midi__deps: ['$kv5Settle', 'malloc', 'free'],
  $kv5Midi__postset: 'Module["kv5Midi"] = kv5Midi;',
  $kv5Midi: {
    access: null,
    firstSentAt: null,  // when a message first left after the page cleared it (a figure of the page's)
    listed: [[], []],  // by direction: the MIDIPort objects of the last list
    open: {},          // by handle: {port, release, gone}
    setAccess: function(access) {
      kv5Midi.access = access;
      access.addEventListener('statechange', kv5Midi.stateChanged);
    },
    stateChanged: function(event) {
      var port = event.port;
      if (!port || port.state !== 'disconnected') return;
      for (var handle in kv5Midi.open) {
        var device = kv5Midi.open[handle];
        if (device.port === port && !device.gone) kv5Midi.vanish(+handle);
      }
    },
    vanish: function(handle) {
      var device = kv5Midi.open[handle];
      if (!device || device.gone) return;
      device.gone = true;
      Module['_kv5_webmidi_gone'](handle);
    },
    received: function(handle, data) {
      var device = kv5Midi.open[handle];
      if (!device || device.gone || !device.ready) return;
      var bytes = _malloc(data.length);
      HEAPU8.set(data, bytes);
      try {
        Module['_kv5_webmidi_received'](handle, bytes, data.length);
      } finally {
        _free(bytes);
      }
    },
    // The Web Locks of the devices this page has open, by port: held while any handle has the
    // port open, and for the rest of the task after the last one closes, so that closing and
    // reopening a port (as every session does) keeps its lock.
    locks: null,  // a Map, made at the first lock (the library's values are written out as text)
    // Resolves to a function that releases this holder's claim, or null when another page of the
    // site holds the device.
    lock: function(port) {
      if (typeof navigator === 'undefined' || !navigator.locks) {
        return Promise.resolve(function() {});
      }
      if (!kv5Midi.locks) kv5Midi.locks = new Map();
      var entry = kv5Midi.locks.get(port);
      if (!entry) {
        entry = {holders: 0, release: null};
        entry.granted = new Promise(function(granted) {
          navigator.locks.request('kv5update ' + port.type + ' ' + port.id, {ifAvailable: true},
            function(lock) {
              if (!lock) {
                granted(false);
                return;
              }
              return new Promise(function(release) {
                entry.release = release;
                granted(true);
              });
            });
        });
        kv5Midi.locks.set(port, entry);
      }
      entry.holders += 1;
      return entry.granted.then(function(held) {
        if (!held) {
          entry.holders -= 1;
          if (kv5Midi.locks.get(port) === entry) kv5Midi.locks.delete(port);
          return null;
        }
        var released = false;
        return function() {
          if (released) return;
          released = true;
          entry.holders -= 1;
          setTimeout(function() {
            if (entry.holders > 0 || kv5Midi.locks.get(port) !== entry) return;
            kv5Midi.locks.delete(port);
            entry.release();
          });
        };
      });
    },
  },

  kv5_webmidi_list__deps: ['$kv5Midi'],
  kv5_webmidi_list: function(output) {
    var ports = [];
    var access = kv5Midi.access;
    if (access) {
      (output ? access.outputs : access.inputs).forEach(function(port) {
        if (port.state !== 'disconnected') ports.push(port);
      });
    }
    kv5Midi.listed[output] = ports;
    return ports.length;
  },

  kv5_webmidi_port_name__deps: ['$kv5Midi'],
  kv5_webmidi_port_name: function(output, index, name, size) {
    var port = kv5Midi.listed[output][index];
    stringToUTF8(port && port.name ? port.name : '', name, size);
  },

  kv5_webmidi_open__deps: ['$kv5Midi', '$kv5Settle'],
  kv5_webmidi_open: function(output, index, handle, ticket, lockDevices) {
    var port = kv5Midi.listed[output][index];
    if (!port) return 2;  // MMSYSERR_BADDEVICEID
    // The device of the list entry, or none: a port that has gone since the list was filled fails.
    if (port.state === 'disconnected') return 2;
    var device = {port: port, release: null, gone: false, ready: false};
    kv5Midi.open[handle] = device;
    (lockDevices ? kv5Midi.lock(port) : Promise.resolve(function() {})).then(function(release) {
      if (kv5Midi.open[handle] !== device) {  // closed meanwhile
        if (release) release();
        return;
      }
      if (!release) {
        delete kv5Midi.open[handle];
        kv5Settle(ticket, 4);  // MMSYSERR_ALLOCATED: another tab has it
        return;
      }
      device.release = release;
      if (!output) port.onmidimessage = function(event) { kv5Midi.received(handle, event.data); };
      return port.open().then(function() {
        if (kv5Midi.open[handle] !== device) return;
        device.ready = true;
        kv5Settle(ticket, port.state === 'disconnected' ? 2 : 0);
      }, function() {
        if (kv5Midi.open[handle] !== device) return;
        port.onmidimessage = null;
        delete kv5Midi.open[handle];
        release();
        kv5Settle(ticket, 4);  // the system refused it: another program holds it
      });
    });
    return 0;
  },

  kv5_webmidi_close__deps: ['$kv5Midi'],
  kv5_webmidi_close: function(handle) {
    var device = kv5Midi.open[handle];
    if (!device) return;
    delete kv5Midi.open[handle];
    if (device.port.type === 'input') device.port.onmidimessage = null;
    if (device.release) device.release();
    // Closed after the task, unless a handle opened it again meanwhile: a port closed and opened
    // at once (as every session does) could lose what arrives while its closing completes.
    setTimeout(function() {
      for (var other in kv5Midi.open) if (kv5Midi.open[other].port === device.port) return;
      device.port.close().catch(function() {});
    });
  },

  kv5_webmidi_send__deps: ['$kv5Midi'],
  kv5_webmidi_send: function(handle, bytes, length) {
    var device = kv5Midi.open[handle];
    if (!device || device.gone) return 6;  // MMSYSERR_NODRIVER
    try {
      device.port.send(HEAPU8.subarray(bytes, bytes + length));
      if (kv5Midi.firstSentAt === null) kv5Midi.firstSentAt = performance.now();
      return 0;
    } catch (error) {
      // A port that went away throws InvalidStateError (the program notices it from the result:
      // no call back into it from inside its own call); anything else is bytes it refused.
      if (error && error.name === 'InvalidStateError') {
        device.gone = true;
        return 6;
      }
      return 1;  // MMSYSERR_ERROR
    }
  },
});
