// The page side of the browser backend: the question box, the window (a
// canvas centred on a black page, scaled down to fit a small one), the
// loading screen, the key queue and the music. Everything runs on the
// page's own thread but the music, which the audio worklet plays itself:
// it holds the player (vantor-xm.wasm) and renders each quantum as the
// audio thread asks for it, whatever the page is doing.
//
// index.html fetches the files (Module.files): 2.xm becomes /2.xm in the
// in-memory file system once it is in (see moduleFolder).

Module.vantor = (function () {
  var ESCAPE = 1, QUIT = 2;
  var NAME = document.title;
  var events = [];
  var fullScreen = false;
  var firstFrame = true;
  // The window's size as the program knows it, and the canvases' size in
  // the page (CSS pixels) and in their backing store (device pixels).
  var view = { width: 840, height: 525, cssWidth: 0, cssHeight: 0, backWidth: 0, backHeight: 0, changed: false };
  var audio = { context: null, ready: null, node: null, session: 0, failure: null,
                frames: 0, starved: 0, skipped: 0, skips: [], quanta: 0, startFrame: -1, frame: -1,
                order: 0, row: 0, ms: 0 };

  function el(tag, css, text) {
    var e = document.createElement(tag);
    if (css) e.style.cssText = css;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function setState(state) { document.body.dataset.state = state; }

  // A message box in the page: caption bar, text and buttons, centred, a
  // modal dialog to assistive technology. Resolves with the index of the
  // button pressed.
  function messageBox(caption, text, labels) {
    document.getElementById('arriving').style.display = 'none';
    return new Promise(function (resolve) {
      var shade = el('div', 'position:fixed;inset:0;display:flex;align-items:center;' +
                     'justify-content:center;z-index:10');
      var box = el('div', 'min-width:220px;background:#f0f0f0;color:#000;border:1px solid #888;' +
                   'font:13px system-ui,sans-serif;box-shadow:0 4px 16px rgba(0,0,0,.6)');
      box.id = 'question';
      box.setAttribute('role', 'dialog');
      box.setAttribute('aria-modal', 'true');
      box.setAttribute('aria-labelledby', 'question-caption');
      box.setAttribute('aria-describedby', 'question-text');
      var title = el('div', 'background:#fff;padding:6px 10px;border-bottom:1px solid #ddd', caption);
      title.className = 'caption';
      title.id = 'question-caption';
      var body = el('div', 'padding:22px 18px 26px;white-space:pre-wrap', text);
      body.className = 'text';
      body.id = 'question-text';
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
    if (audio.node) audio.node.disconnect();
    audio.node = null;
    audio.ready = null;
    audio.failure = sentence;
    document.body.dataset.sound = 'off';
    var notice = document.getElementById('notice');
    notice.textContent = sentence;
    notice.style.display = 'block';
  }

  // The audio context has to be made inside the click that answers the
  // question, the user gesture browsers require before a page makes sound.
  // The music is rendered at the context's own rate; 44,100 frames a second
  // is asked for, the rate the intro plays at everywhere.
  function startAudio() {
    var Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return noSound('No sound: this browser has no Web Audio.');
    var context;
    try {
      context = new Context({ sampleRate: 44100 });
    } catch (e) {
      try {
        context = new Context();
      } catch (e2) {
        return noSound('No sound: the browser refused the page an audio context (' + e2.message + ').');
      }
    }
    if (!context.audioWorklet) {
      context.close();
      return noSound('No sound: this browser gives the page no audio worklet' +
                     ' (browsers give it only to pages served over https or from this computer).');
    }
    audio.context = context;
    var code = '(' + playerProcessor.toString() + ')()';
    var url = URL.createObjectURL(new Blob([code], { type: 'application/javascript' }));
    audio.ready = context.audioWorklet.addModule(url);
    audio.ready.catch(function (e) { noSound('No sound: the audio worklet did not load (' + e + ').'); });
    if (context.state !== 'running') {
      context.resume().catch(function (e) {
        noSound('No sound: the browser did not let the page start its audio (' + e.message + ').');
      });
    }
  }

  // Runs in the audio worklet: the player (vantor-xm.wasm, instantiated
  // from the bytes the page hands over) renders each quantum when the audio
  // thread asks for it, so the music depends on nothing the page does. It
  // counts the quanta it played, those it had no music for (none, while the
  // player works) and those the context went through without asking for
  // them (where, for the first few), and reports them with the song's
  // position about every 12 ms. The song goes on from where it was after
  // such a gap, as after a pause.
  // A context just made may skip ahead while its output starts (Chromium
  // jumps a few hundred milliseconds between the first two quanta): the
  // song begins once the context's clock has run evenly for a few quanta.
  function playerProcessor() {
    class VantorPlayer extends AudioWorkletProcessor {
      constructor(options) {
        super();
        var o = options.processorOptions;
        this.quanta = 0;
        this.starved = 0;
        this.skipped = 0;
        this.skips = [];
        this.frames = 0;
        this.startFrame = -1;
        this.nextFrame = -1;
        this.settled = 0;
        this.stopped = false;
        this.player = null;
        this.memory = null;
        this.left = this.right = null;
        var self = this;
        this.port.onmessage = function (e) { if (e.data === 'stop') self.stopped = true; };
        try {
          var failure = function (code) { throw new Error('the player stopped (' + code + ')'); };
          var instance = new WebAssembly.Instance(new WebAssembly.Module(o.player), {
            env: { emscripten_notify_memory_growth: function () {} },
            wasi_snapshot_preview1: { proc_exit: failure }
          });
          var p = instance.exports, song = new Uint8Array(o.song);
          p._initialize();
          var at = p.worklet_module_space(song.length);
          if (!at) throw new Error('no memory for the module');
          new Uint8Array(p.memory.buffer, at, song.length).set(song);
          if (!p.worklet_start(song.length, sampleRate)) throw new Error('the player refused the module');
          this.player = p;
          this.output = p.worklet_output();
        } catch (e) {
          this.port.postMessage({ failure: String(e.message || e) });
        }
      }
      process(inputs, outputs) {
        if (this.stopped || !this.player) return false;
        var out = outputs[0], n = out[0].length, p = this.player;
        var expected = this.nextFrame, even = expected < 0 || currentFrame === expected;
        this.nextFrame = currentFrame + n;
        if (this.startFrame < 0) {
          this.settled = even ? this.settled + 1 : 0;
          if (this.settled < 8) return true;
          this.startFrame = currentFrame;
        } else if (!even) {
          this.skipped += Math.max(1, Math.round((currentFrame - expected) / n));
          if (this.skips.length < 16) this.skips.push([expected, currentFrame]);
        }
        this.quanta++;
        var got = p.worklet_render(n);
        if (got < n) this.starved++;
        // Views of the player's output, made again only when its memory
        // has grown or the quantum's size changed, not for every quantum.
        if (this.memory !== p.memory.buffer || this.left.length !== n) {
          this.memory = p.memory.buffer;
          this.left = new Float32Array(this.memory, this.output, n);
          this.right = new Float32Array(this.memory, this.output + 4096 * 4, n);
        }
        if (got === n) {
          out[0].set(this.left);
          out[1].set(this.right);
        } else if (got > 0) {
          out[0].set(this.left.subarray(0, got));
          out[1].set(this.right.subarray(0, got));
        }
        this.frames += got;
        if ((this.quanta & 3) === 1) {
          this.port.postMessage({ frames: this.frames, starved: this.starved, quanta: this.quanta,
                                  skipped: this.skipped, skips: this.skips,
                                  startFrame: this.startFrame, frame: currentFrame + n,
                                  order: p.worklet_order(), row: p.worklet_row(), ms: p.worklet_time_ms() });
        }
        return true;
      }
    }
    registerProcessor('vantor-player', VantorPlayer);
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

  // Sizes both canvases to the page: the whole page in full screen,
  // otherwise the window's size, scaled down to fit a smaller page. The
  // backing stores take the screen's device pixels, so nothing is blurred
  // on a high-density screen; the loading screen keeps the window's
  // coordinates.
  function fitCanvases() {
    var cssWidth, cssHeight;
    if (fullScreen) {
      cssWidth = innerWidth;
      cssHeight = innerHeight;
    } else {
      var scale = Math.min(1, innerWidth / view.width, innerHeight / view.height);
      // (A hair over, so that an exact fit is not lost to rounding.)
      cssWidth = Math.max(1, Math.floor(view.width * scale + 1e-6));
      cssHeight = Math.max(1, Math.floor(view.height * scale + 1e-6));
    }
    var ratio = window.devicePixelRatio || 1;
    var backWidth = Math.max(1, Math.round(cssWidth * ratio));
    var backHeight = Math.max(1, Math.round(cssHeight * ratio));
    if (cssWidth === view.cssWidth && cssHeight === view.cssHeight &&
        backWidth === view.backWidth && backHeight === view.backHeight) return;
    view.cssWidth = cssWidth; view.cssHeight = cssHeight;
    view.backWidth = backWidth; view.backHeight = backHeight;
    view.changed = true;
    var canvas = Module['canvas'], loading = loadingCanvas();
    [canvas, loading].forEach(function (c) {
      c.style.width = cssWidth + 'px';
      c.style.height = cssHeight + 'px';
    });
    canvas.width = backWidth; canvas.height = backHeight;
    // Resizing clears the loading screen; the next report paints it again.
    loading.width = backWidth; loading.height = backHeight;
    loading.getContext('2d').setTransform(backWidth / view.width, 0, 0, backHeight / view.height, 0, 0);
  }

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
    // The window at the program's size; the backing store's size, which
    // the GL viewport takes, is read with canvasChanged.
    openPage: function (full, width, height) {
      fullScreen = full;
      view.width = width; view.height = height;
      view.cssWidth = view.cssHeight = 0;
      document.getElementById('screen').style.display = 'block';
      if (full) { document.body.style.cursor = 'none'; document.body.classList.add('full'); }
      fitCanvases();
      window.addEventListener('resize', fitCanvases);
      window.addEventListener('keydown', onKey, true);
      document.addEventListener('fullscreenchange', onFullscreenChange);
      setState('loading');
      Module['canvas'].focus();
    },
    closePage: function () {
      window.removeEventListener('resize', fitCanvases);
      window.removeEventListener('keydown', onKey, true);
      document.removeEventListener('fullscreenchange', onFullscreenChange);
      fullScreen = false;
      if (document.fullscreenElement && document.exitFullscreen) document.exitFullscreen();
      document.body.style.cursor = '';
      document.body.classList.remove('full');
      document.getElementById('screen').style.display = 'none';
      document.getElementById('ended').style.display = 'block';
      // The running caption belongs to the running intro.
      document.title = NAME;
      setState('ended');
    },
    // The backing store's size when it changed since the last call, else
    // null.
    canvasChanged: function () {
      if (!view.changed) return null;
      view.changed = false;
      return [view.backWidth, view.backHeight];
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
    // Waits for 2.xm, which the page fetched beside itself, and puts it at
    // /2.xm; without it the intro runs silently.
    moduleFolder: function () {
      return Module.files['2.xm'].then(function (bytes) {
        if (bytes) FS.writeFile('/2.xm', new Uint8Array(bytes));
      });
    },
    // The device plays the module itself, at the context's rate, so any
    // rate asked for is taken.
    audioOpen: function () {
      return audio.context && audio.ready ? 1 : 0;
    },
    // Hands the worklet the player and the module once all three are in;
    // until it plays, the position stays at the song's start.
    audioStart: function () {
      var context = audio.context, session = ++audio.session;
      audio.frames = audio.starved = audio.skipped = audio.quanta = audio.order = audio.row = audio.ms = 0;
      audio.skips = [];
      audio.startFrame = audio.frame = -1;
      Promise.all([audio.ready, Module.files['vantor-xm.wasm'], Module.files['2.xm']]).then(function (got) {
        if (session !== audio.session || !audio.ready) return;
        if (!got[1] || !got[2]) {
          return noSound('No sound: the page could not load ' + (got[1] ? '2.xm' : 'vantor-xm.wasm') + '.');
        }
        var node = new AudioWorkletNode(context, 'vantor-player', {
          numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
          processorOptions: { player: got[1], song: got[2] }
        });
        node.port.onmessage = function (e) {
          if (session !== audio.session) return;
          var m = e.data;
          if (m.failure) return noSound('No sound: ' + m.failure + '.');
          audio.frames = m.frames; audio.starved = m.starved; audio.quanta = m.quanta;
          audio.skipped = m.skipped; audio.skips = m.skips;
          audio.startFrame = m.startFrame; audio.frame = m.frame;
          audio.order = m.order; audio.row = m.row; audio.ms = m.ms;
        };
        node.onprocessorerror = function () {
          if (session === audio.session) noSound('No sound: the audio worklet stopped.');
        };
        node.connect(context.destination);
        audio.node = node;
        document.body.dataset.sound = 'on';
      }, function () {});
      return 1;
    },
    // The song's position at the end of the quantum the worklet rendered
    // last (about what is being heard): order, row, milliseconds.
    audioHeard: function () { return [audio.order, audio.row, audio.ms]; },
    audioPlayed: function () { return audio.frames; },
    audioClose: function () {
      audio.session++;
      if (audio.node) {
        audio.node.port.postMessage('stop');
        audio.node.disconnect();
      }
      audio.node = null;
      if (audio.context) audio.context.suspend();
    },
    // For whoever watches the page (the tests): the audio context's state
    // and clock, and what the worklet last reported: the frames it played
    // and the quanta it played, starved and was not asked for (with the
    // first few such gaps as [expected frame, frame asked for]), the
    // context frame it began at and the one its report was made at, and
    // the song's position.
    audioStatus: function () {
      var c = audio.context;
      return {
        state: c ? c.state : 'none',
        rate: c ? c.sampleRate : 0,
        contextTime: c ? c.currentTime : 0,
        playing: !!audio.node,
        frames: audio.frames,
        starved: audio.starved,
        skipped: audio.skipped,
        skips: audio.skips,
        quanta: audio.quanta,
        startFrame: audio.startFrame,
        frame: audio.frame,
        order: audio.order,
        row: audio.row,
        ms: audio.ms,
        failure: audio.failure
      };
    }
  };
})();
if (typeof window !== 'undefined') window.vantor = Module.vantor;
