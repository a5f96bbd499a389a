// The Windows build reports exceptions where operations catch them; capturing the stack
// at the throw itself is not wired up there yet.
#include "platform/throw_hook.h"

namespace platform {
void SetThrowCallback(ThrowCallback) {}
}  // namespace platform
