#pragma once

// Runs the page's fiber threads until each next sleeps or ends. Called on the
// page's own thread wherever the core hands control to the browser.
void web_run_threads();
