// The headless relay serves bursts of clients, so it listens with the
// system's largest backlog rather than the window's 0.
#pragma once

int HeadlessListenBacklog();
