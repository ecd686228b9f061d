// Moves the calling process into a network namespace of its own that has
// only a loopback interface, so a host-name lookup the code under test makes
// can reach no name server off this machine. Needs root; call it before any
// thread starts. False when the namespace could not be made.
#pragma once

bool EnterIsolatedNetwork();
