// The page side of the browser backend: the question box, the window (a
// canvas centred on a black page), the loading screen, the key queue and the
// audio worklet. Everything runs on the page's own thread but the worklet.

// The module beside the page becomes /2.xm in the in-memory file system.
// Without it (or when it cannot be fetched) the intro runs silently.
Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function () {
  addRunDependency('2.xm');
  fetch('2.xm')
    .then(function (r) { return r.ok ? r.arrayBuffer() : null; })
    .catch(function () { return null; })
    .then(function (data) {
      if (data) FS.writeFile('/2.xm', new Uint8Array(data));
      removeRunDependency('2.xm');
    });
});

Module.vantor = (function () {
  var ESCAPE = 1, QUIT = 2;
  var events = [];
  var fullScreen = false;
  var audio = { context: null, ready: null, node: null, session: 0, buffer: 0, bytes: 0,
                played: 0, starved: 0, quanta: 0 };
  var firstFrame = true;

  function el(tag, css, text) {
    var e = document.createElement(tag);
    if (css) e.style.cssText = css;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function setState(state) { document.body.dataset.state = state; }

  // A message box in the page: caption bar, text and buttons, centred.
  // Resolves with the index of the button pressed.
  function messageBox(caption, text, labels) {
    return new Promise(function (resolve) {
      var shade = el('div', 'position:fixed;inset:0;display:flex;align-items:center;' +
                     'justify-content:center;z-index:10');
      var box = el('div', 'min-width:220px;background:#f0f0f0;color:#000;border:1px solid #888;' +
                   'font:13px system-ui,sans-serif;box-shadow:0 4px 16px rgba(0,0,0,.6)');
      box.id = 'question';
      box.setAttribute('role', 'dialog');
      var title = el('div', 'background:#fff;padding:6px 10px;border-bottom:1px solid #ddd', caption);
      title.className = 'caption';
      var body = el('div', 'padding:22px 18px 26px;white-space:pre-wrap', text);
      body.className = 'text';
      var row = el('div', 'display:flex;justify-content:flex-end;gap:8px;padding:10px 12px;' +
                   'border-top:1px solid #ddd');
      labels.forEach(function (label, i) {
        var b = el('button', 'min-width:80px;padding:3px 10px', label);
        b.dataset.answer = label.toLowerCase();
        b.addEventListener('click', function () {
          document.body.removeChild(shade);
          resolve(i);
        });
        row.appendChild(b);
      });
      box.appendChild(title); box.appendChild(body); box.appendChild(row);
      shade.appendChild(box);
      document.body.appendChild(shade);
      performance.mark('vantor-question');
      row.firstChild.focus();  // Return answers with the first button
    });
  }

  // No sound is no reason to stop: the intro then runs silently, and the
  // page says why in one sentence.
  function noSound(sentence) {
    audio.context = null;
    audio.ready = null;
    document.body.dataset.sound = 'off';
    var notice = document.getElementById('notice');
    notice.textContent = sentence;
    notice.style.display = 'block';
  }

  // The audio context has to be made inside the click that answers the
  // question, the user gesture browsers require before a page makes sound.
  function startAudio() {
    var Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return noSound('No sound: this browser has no Web Audio.');
    var context;
    try {
      context = new Context({ sampleRate: 44100 });
    } catch (e) {
      return noSound('No sound: the browser refused the page an audio context (' + e.message + ').');
    }
    if (!context.audioWorklet) {
      context.close();
      return noSound('No sound: this browser gives the page no audio worklet' +
                     ' (browsers give it only to pages served over https or from this computer).');
    }
    audio.context = context;
    var code = '(' + loopProcessor.toString() + ')()';
    var url = URL.createObjectURL(new Blob([code], { type: 'application/javascript' }));
    audio.ready = context.audioWorklet.addModule(url);
    audio.ready.catch(function (e) { noSound('No sound: the audio worklet did not load (' + e + ').'); });
    if (context.state !== 'running') {
      context.resume().catch(function (e) {
        noSound('No sound: the browser did not let the page start its audio (' + e.message + ').');
      });
    }
  }

  // Runs in the audio worklet: its own copy of the looping buffer, played
  // from a cursor that wraps at the end and refilled by message. It counts
  // the frames it has played and the render quanta it had nothing for.
  function loopProcessor() {
    class VantorLoop extends AudioWorkletProcessor {
      constructor(options) {
        super();
        var o = options.processorOptions;
        this.frames = o.frames;
        this.ring = new Int16Array(o.frames * 2);
        this.ring.set(new Int16Array(o.pcm));
        this.received = o.frames;  // frames handed over so far
        this.played = 0;
        this.starved = 0;
        this.quanta = 0;
        this.stopped = false;
        var self = this;
        this.port.onmessage = function (e) {
          if (e.data === 'stop') { self.stopped = true; return; }
          var pcm = new Int16Array(e.data), frames = pcm.length >> 1;
          var at = self.received % self.frames, first = Math.min(frames, self.frames - at);
          self.ring.set(pcm.subarray(0, first * 2), at * 2);
          if (first < frames) self.ring.set(pcm.subarray(first * 2), 0);
          self.received += frames;
        };
      }
      process(inputs, outputs) {
        if (this.stopped) return false;
        var left = outputs[0][0], right = outputs[0][1], n = left.length;
        this.quanta++;
        if (this.received - this.played < n) {
          // Nothing new to play: silence (the outputs start zeroed), and the
          // count stands still until the next block arrives.
          this.starved++;
        } else {
          var ring = this.ring, frames = this.frames, c = this.played % frames;
          for (var i = 0; i < n; i++) {
            left[i] = ring[2 * c] / 32768;
            right[i] = ring[2 * c + 1] / 32768;
            if (++c === frames) c = 0;
          }
          this.played += n;
        }
        // About every 12 ms: the bytes played (a wrapping 32-bit count).
        if ((this.quanta & 3) === 0) {
          this.port.postMessage([this.played * 4 % 4294967296, this.starved, this.quanta]);
        }
        return true;
      }
    }
    registerProcessor('vantor-loop', VantorLoop);
  }

  function onKey(e) {
    if (e.key === 'Escape') { events.push(ESCAPE); e.preventDefault(); }
  }

  // Browsers leave full screen on Escape themselves and do not pass the key
  // on: leaving full screen is taken as the Escape that ends the intro.
  function onFullscreenChange() {
    if (fullScreen && !document.fullscreenElement) events.push(ESCAPE);
  }

  function loadingCanvas() { return document.getElementById('loading'); }

  return {
    askYesNo: function (caption, text) {
      setState('question');
      return messageBox(caption, text, ['Yes', 'No']).then(function (i) {
        performance.mark('vantor-answered');
        startAudio();
        if (i !== 0) return 0;
        // Yes asks for full screen; when the browser refuses, run windowed.
        var root = document.documentElement;
        if (!root.requestFullscreen) return 0;
        return root.requestFullscreen({ navigationUI: 'hide' })
          .then(function () { return 1; }, function () { return 0; });
      });
    },
    showMessage: function (caption, text) {
      return messageBox(caption, text, ['OK']);
    },
    openPage: function (full, width, height) {
      fullScreen = full;
      var canvas = Module['canvas'], loading = loadingCanvas();
      [canvas, loading].forEach(function (c) {
        c.width = width; c.height = height;
        c.style.width = width + 'px'; c.style.height = height + 'px';
      });
      document.getElementById('screen').style.display = 'block';
      if (full) { document.body.style.cursor = 'none'; document.body.classList.add('full'); }
      window.addEventListener('keydown', onKey, true);
      document.addEventListener('fullscreenchange', onFullscreenChange);
      setState('loading');
      canvas.focus();
    },
    closePage: function () {
      window.removeEventListener('keydown', onKey, true);
      document.removeEventListener('fullscreenchange', onFullscreenChange);
      fullScreen = false;
      if (document.fullscreenElement && document.exitFullscreen) document.exitFullscreen();
      document.body.style.cursor = '';
      document.body.classList.remove('full');
      document.getElementById('screen').style.display = 'none';
      document.getElementById('ended').style.display = 'block';
      setState('ended');
    },
    nextEvent: function () { return events.length ? events.shift() : 0; },
    postQuit: function () { events.push(QUIT); },
    nextFrame: function () {
      if (firstFrame) {
        // The intro's first frame is on the canvas: the loading screen goes.
        firstFrame = false;
        loadingCanvas().style.display = 'none';
        setState('running');
        performance.mark('vantor-first-frame');
      }
      return new Promise(function (resolve) { requestAnimationFrame(function () { resolve(); }); });
    },
    // A filled rectangle outlined in black, right and bottom exclusive.
    loadingRect: function (left, top, right, bottom, rgb) {
      var g = loadingCanvas().getContext('2d');
      if (right <= left || bottom <= top) return;
      g.fillStyle = '#000';
      g.fillRect(left, top, right - left, bottom - top);
      g.fillStyle = '#' + (0x1000000 + rgb).toString(16).slice(1);
      g.fillRect(left + 1, top + 1, right - left - 2, bottom - top - 2);
    },
    // Text with its cell's top at y; an Arial-metric em is about 0.89 of the cell.
    loadingText: function (x, y, height, text, rgb) {
      var g = loadingCanvas().getContext('2d');
      g.font = Math.round(height * 0.89) + 'px Arial, "Liberation Sans", Helvetica, sans-serif';
      g.textBaseline = 'top';
      g.fillStyle = '#' + (0x1000000 + rgb).toString(16).slice(1);
      g.fillText(text, x, y);
    },
    // Returns after the browser has had the chance to paint.
    showLoading: function () {
      return new Promise(function (resolve) {
        requestAnimationFrame(function () { setTimeout(resolve, 0); });
      });
    },
    audioOpen: function (rate) {
      if (!audio.context || !audio.ready) return 0;
      if (audio.context.sampleRate === rate) return 1;
      noSound('No sound: the browser would not play at ' + rate + ' samples a second.');
      return 0;
    },
    // Starts the worklet with a copy of the whole buffer once its code has
    // loaded; until then the count of bytes played stays at 0, as with a
    // device slow to start, so nothing is refilled meanwhile.
    audioStart: function (buffer, bytes) {
      var context = audio.context, pcm = HEAPU8.slice(buffer, buffer + bytes).buffer;
      var session = ++audio.session;
      audio.buffer = buffer; audio.bytes = bytes;
      audio.played = 0; audio.starved = 0; audio.quanta = 0;
      audio.ready.then(function () {
        if (session !== audio.session || !audio.bytes) return;
        audio.node = new AudioWorkletNode(context, 'vantor-loop', {
          numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
          processorOptions: { frames: bytes >> 2, pcm: pcm }
        });
        audio.node.port.onmessage = function (e) {
          if (session !== audio.session) return;
          audio.played = e.data[0]; audio.starved = e.data[1]; audio.quanta = e.data[2];
        };
        audio.node.connect(context.destination);
        document.body.dataset.sound = 'on';
      }, function () {});
      return 1;
    },
    // A block the output refilled, in the order it is to be played.
    audioWrite: function (data, bytes) {
      if (!audio.node) return;
      var copy = HEAPU8.slice(data, data + bytes).buffer;
      audio.node.port.postMessage(copy, [copy]);
    },
    audioPlayed: function () { return audio.played >>> 0; },
    audioClose: function () {
      audio.session++;
      if (audio.node) {
        audio.node.port.postMessage('stop');
        audio.node.disconnect();
      }
      audio.node = null;
      audio.bytes = 0;
      if (audio.context) audio.context.suspend();
    },
    // For whoever watches the page (the tests): the audio context's state,
    // the bytes played, the quanta the worklet played and starved, and a
    // checksum of the program's looping buffer.
    audioStatus: function () {
      var sum = 0;
      if (audio.bytes) {
        var pcm = new Int16Array(HEAPU8.buffer, audio.buffer, audio.bytes >> 1);
        for (var i = 0; i < pcm.length; i++) sum = (sum * 31 + pcm[i]) | 0;
      }
      return {
        state: audio.context ? audio.context.state : 'none',
        playing: !!audio.node,
        played: audio.played >>> 0,
        bufferBytes: audio.bytes,
        checksum: sum,
        starved: audio.starved,
        quanta: audio.quanta
      };
    }
  };
})();
if (typeof window !== 'undefined') window.vantor = Module.vantor;
