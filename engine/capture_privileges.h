#pragma once

// The program never needs to run as root. Capturing needs CAP_NET_RAW and
// CAP_NET_ADMIN, which an installation grants as file capabilities in the
// permitted set only (setcap cap_net_raw,cap_net_admin+p trafalyn). They
// stay out of the effective set except while a capture device is being
// opened, on the thread that opens it.
//
// Capabilities are per thread on Linux: raising them on the capture thread
// gives no other thread any privilege.
class CCapturePrivileges {
 public:
  // Raises CAP_NET_RAW and CAP_NET_ADMIN into the calling thread's effective
  // set when they are permitted; does nothing for root or when they are not.
  CCapturePrivileges();
  // Clears the calling thread's effective set again.
  ~CCapturePrivileges();

  CCapturePrivileges(const CCapturePrivileges&) = delete;
  CCapturePrivileges& operator=(const CCapturePrivileges&) = delete;

  // True when the capabilities were raised.
  bool Raised() const { return raised_; }

  // Start-up, on the main thread before any other thread exists (threads
  // inherit its sets): empties the effective set of a program that is not
  // root, in case it was installed with "+ep". The permitted set stays.
  static void DropEffective();

  // When the program runs as root, says so on standard error, the first
  // time only (a trace starting calls it). Any thread. Returns whether it
  // wrote the line now.
  static bool WarnIfRoot();

  // The text of that warning.
  static const char* RootWarning();

 private:
  bool raised_ = false;
};
