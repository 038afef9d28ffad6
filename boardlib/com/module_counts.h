#pragma once

// The module's counts: live objects, and locks (LockServer and references to the class factory).
// Objects count themselves here, so they depend on the module and never on the server.

namespace zelto::com {

void moduleObjectCreated();
void moduleObjectDestroyed();
// Each returns the number of locks after the change.
long moduleLock();
long moduleUnlock();
// True when no object, no lock and no class factory reference remains.
bool moduleCanUnload();

} // namespace zelto::com
