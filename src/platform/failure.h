// The failure vocabulary: every failure the launcher reports is one of these
// names, printed exactly as spelled here.
#pragma once

#include <expected>
#include <string_view>

namespace wexlo {

// X-macro list so the enumerators and their printed names cannot drift apart.
#define WEXLO_FAILURES(X)                \
  X(PermissionDenied)                    \
  X(SystemResources)                     \
  X(Unsupported)                         \
  X(Unexpected)                          \
  X(DiskQuota)                           \
  X(FileTooBig)                          \
  X(InputOutput)                         \
  X(NoSpaceLeft)                         \
  X(DeviceBusy)                          \
  X(AccessDenied)                        \
  X(BrokenPipe)                          \
  X(NotOpenForWriting)                   \
  X(LockViolation)                       \
  X(WouldBlock)                          \
  X(NoDevice)                            \
  X(FileBusy)                            \
  X(Canceled)                            \
  X(Unimplemented)                       \
  X(CorruptedData)                       \
  X(EndOfStream)                         \
  X(ReadFailed)                          \
  X(Unseekable)                          \
  X(UnsupportedOperation)                \
  X(EnvironmentVariableMissing)          \
  X(UnrecognizedFormat)                  \
  X(OutOfMemory)                         \
  X(FileNotFound)                        \
  X(OperationUnsupported)                \
  X(NotDir)                              \
  X(SymLinkLoop)                         \
  X(IsDir)                               \
  X(ProcessFdQuotaExceeded)              \
  X(SystemFdQuotaExceeded)               \
  X(FileSystem)                          \
  X(BadPathName)                         \
  X(PipeBusy)                            \
  X(NotLink)                             \
  X(PathAlreadyExists)                   \
  X(NetworkNotFound)                     \
  X(ProcessNotFound)                     \
  X(AntivirusInterference)               \
  X(UnrecognizedVolume)                  \
  X(AppDataDirUnavailable)               \
  X(LinkQuotaExceeded)                   \
  X(ReadOnlyFileSystem)                  \
  X(NameTooLong)                         \
  X(FileLocksUnsupported)                \
  X(Streaming)                           \
  X(ConnectionResetByPeer)               \
  X(NotOpenForReading)                   \
  X(SocketUnconnected)                   \
  X(ConcurrencyUnavailable)              \
  X(MessageOversize)                     \
  X(NetworkDown)                         \
  X(PortUnreachable)                     \
  X(Timeout)                             \
  X(DirNotEmpty)                         \
  X(CrossDevice)                         \
  X(HardwareFailure)                     \
  X(UnsupportedReparsePointType)         \
  X(NotTerminalDevice)                   \
  X(NonResizable)                        \
  X(LockedMemoryLimitExceeded)           \
  X(CurrentDirUnlinked)                  \
  X(InvalidWtf8)                         \
  X(InvalidExe)                          \
  X(InvalidBatchScriptArg)               \
  X(ResourceLimitReached)                \
  X(InvalidUserId)                       \
  X(InvalidProcessGroupId)               \
  X(InvalidName)                         \
  X(ProcessAlreadyExec)                  \
  X(ClockUnavailable)                    \
  X(EntropyUnavailable)                  \
  X(AddressInUse)                        \
  X(AddressUnavailable)                  \
  X(AddressFamilyUnsupported)            \
  X(ProtocolUnsupportedBySystem)         \
  X(ProtocolUnsupportedByAddressFamily)  \
  X(SocketModeUnsupported)               \
  X(OptionUnsupported)                   \
  X(SocketNotListening)                  \
  X(ConnectionAborted)                   \
  X(BlockedByFirewall)                   \
  X(ProtocolFailure)                     \
  X(ConnectionPending)                   \
  X(ConnectionRefused)                   \
  X(HostUnreachable)                     \
  X(NetworkUnreachable)                  \
  X(FastOpenAlreadyInProgress)           \
  X(SocketNotBound)                      \
  X(InterfaceNotFound)                   \
  X(UnknownHostName)                     \
  X(ResolvConfParseFailed)               \
  X(InvalidDnsARecord)                   \
  X(InvalidDnsAAAARecord)                \
  X(InvalidDnsCnameRecord)               \
  X(NameServerFailure)                   \
  X(NoAddressReturned)                   \
  X(DetectingNetworkConfigurationFailed) \
  X(StreamTooLong)                       \
  X(WriteFailed)                         \
  X(ParseError)                          \
  X(BadHeader)                           \
  X(InvalidVersion)                      \
  X(Overflow)                            \
  X(WindowTooSmall)                      \
  X(Utf8ExpectedContinuation)            \
  X(Utf8OverlongEncoding)                \
  X(Utf8CodepointTooLarge)               \
  X(Utf8InvalidStartByte)                \
  X(InvalidCharacter)                    \
  X(Closed)                              \
  X(ParseFailed)                         \
  X(UnresolvedScope)                     \
  X(InvalidEnd)                          \
  X(Incomplete)                          \
  X(NonCanonical)                        \
  X(CodepointTooLarge)                   \
  X(ExpectedSecondSurrogateHalf)         \
  X(InvalidHostName)                     \
  X(TooManyParentDirs)                   \
  X(InvalidHandle)                       \
  X(Utf8EncodesSurrogateHalf)            \
  X(NotNtPath)                           \
  X(AlreadyTerminated)                   \
  X(InvalidArg0)                         \
  X(UnrecoverableInvalidExe)             \
  X(SectionOversize)                     \
  X(MappingAlreadyExists)                \
  X(ThreadQuotaExceeded)                 \
  X(UnexpectedToken)                     \
  X(InvalidNumber)                       \
  X(InvalidEnumTag)                      \
  X(DuplicateField)                      \
  X(UnknownField)                        \
  X(MissingField)                        \
  X(LengthMismatch)                      \
  X(SyntaxError)                         \
  X(UnexpectedEndOfInput)                \
  X(BufferUnderrun)                      \
  X(ValueTooLong)                        \
  X(Utf8CannotEncodeSurrogateHalf)

enum class Failure {
#define WEXLO_FAILURE_ENUMERATOR(name) name,
  WEXLO_FAILURES(WEXLO_FAILURE_ENUMERATOR)
#undef WEXLO_FAILURE_ENUMERATOR
};

inline constexpr int kFailureCount = 0
#define WEXLO_FAILURE_COUNT(name) +1
    WEXLO_FAILURES(WEXLO_FAILURE_COUNT)
#undef WEXLO_FAILURE_COUNT
    ;

// The name as printed in error lines, e.g. "FileNotFound".
std::string_view failureName(Failure failure);

// Every fallible operation returns its value or the failure that stopped it;
// callers pass the failure upward unchanged until the run reports it.
// Marked [[nodiscard]]: a failure that is dropped must be dropped visibly,
// with a (void) cast.
template <typename T>
class [[nodiscard]] Result : public std::expected<T, Failure> {
 public:
  using std::expected<T, Failure>::expected;
  Result(std::expected<T, Failure> other) : std::expected<T, Failure>(std::move(other)) {}

  friend bool operator==(const Result& a, const Result& b) {
    using Base = std::expected<T, Failure>;
    return static_cast<const Base&>(a) == static_cast<const Base&>(b);
  }
};

using Status = Result<void>;

inline std::unexpected<Failure> fail(Failure failure) { return std::unexpected(failure); }

}  // namespace wexlo
