#pragma once

namespace kestrel {

// For the life of an imaging run, an interrupt (Ctrl+C) or a termination
// request only raises a flag: the run looks at it between chunks, after the
// checkpoint of the last chunk is saved, and ends with "imaging interrupted",
// so the image is never left longer than its checkpoint and repeating the
// command resumes. The previous handling comes back when the object goes away.
//
// One object at a time: it installs process-wide handlers.
class InterruptSignal {
 public:
  InterruptSignal();
  ~InterruptSignal();
  InterruptSignal(const InterruptSignal&) = delete;
  InterruptSignal& operator=(const InterruptSignal&) = delete;

  // False when the platform refused the handlers; requests then take their
  // usual course (the process ends).
  bool installed() const { return installed_; }

  // True once a request arrived during this object's life.
  bool raised() const;

 private:
  bool installed_ = false;
};

}  // namespace kestrel
