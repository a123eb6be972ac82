#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// A process that owns (or last connected or sent on) a socket. Immutable
// once shared; any thread.
struct CProcessIdentity {
  int32_t pid = 0;
  std::string name;

  // The name to show: the executable's base name when it completes the
  // kernel's name (comm, cut at 15 characters), otherwise comm. A program
  // that renamed itself keeps the name it chose.
  static std::string DisplayName(std::string_view comm, std::string_view exeBase) {
    if (exeBase.size() > comm.size() && exeBase.substr(0, comm.size()) == comm)
      return std::string(exeBase);
    return std::string(comm);
  }
};

// What is known about the process behind a conversation's local socket.
enum class EOwnerState : uint8_t {
  kPending,    // asked; the answer has not landed yet
  kKnown,      // `process` holds it
  kOtherUser,  // the socket belongs to another user whose processes could not be read
  kGone,       // the socket closed before its owner was seen
  kUnknown,    // the look-up failed (socket table unreadable, or an own
               // process that refuses to be inspected)
};

// A small value; copying it copies one shared pointer. Any thread.
struct CProcessOwner {
  EOwnerState state = EOwnerState::kPending;
  std::shared_ptr<const CProcessIdentity> process;  // set when kKnown

  int32_t Pid() const { return process ? process->pid : 0; }

  // The text a list shows: the name, "(other user)", "(gone)", or empty.
  std::string Text() const {
    switch (state) {
      case EOwnerState::kKnown: return process ? process->name : std::string();
      case EOwnerState::kOtherUser: return "(other user)";
      case EOwnerState::kGone: return "(gone)";
      case EOwnerState::kPending:
      case EOwnerState::kUnknown: break;
    }
    return std::string();
  }
};
