#include "Writeback.h"

namespace db {

// No request here starts a write without waiting for it: the flush does all.
Writeback::Writeback(const QString &) {}

Writeback::~Writeback() = default;

void Writeback::start() noexcept {}

} // namespace db
