// A base for the classes whose copy would be a bug: a voice's running state heard twice, an engine's
// hand-over split in two.
#pragma once

namespace common {

class NoCopy {
  public:
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;

  protected:
    NoCopy() = default;
    ~NoCopy() = default;
};

} // namespace common
