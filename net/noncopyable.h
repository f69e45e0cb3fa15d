#pragma once

namespace net {

// A base for objects that own a resource of their own.
class noncopyable {
  public:
    noncopyable(const noncopyable&) = delete;
    noncopyable& operator=(const noncopyable&) = delete;

  protected:
    noncopyable() = default;
    ~noncopyable() = default;
};

}  // namespace net
