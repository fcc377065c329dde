// progress_stub.cpp -- the song fuzzer has no window to answer while a song
// loads, so the store's progress report does nothing there.
#include "assets/store.h"

namespace assets {

void reportProgress() {}

} // namespace assets
