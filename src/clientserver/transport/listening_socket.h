#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "clientserver/transport/socket.h"
#include "foundation/runtime/sections.h"
#include "foundation/runtime/thread.h"

namespace brn {

class TBRNServerSocketWrapper;
class TBRNServerClientThread;
class TBRNServerAcceptThread;

// The wrapper of one accepted connection. It is on its listener's
// Connections list from construction to destruction.
class TBRNServerClientSocketWrapper : public TBRNSocketWrapper {
 public:
  TBRNServerClientSocketWrapper(int32_t Handle, TBRNServerSocketWrapper* Listener);
  ~TBRNServerClientSocketWrapper() override;

  TBRNServerSocketWrapper* GetListener() const { return listener_; }
  // When the connection was accepted (the wrapper built). Any thread.
  std::chrono::steady_clock::time_point GetAcceptTime() const { return acceptTime_; }

 private:
  TBRNServerSocketWrapper* listener_;
  std::chrono::steady_clock::time_point acceptTime_;
};

using TBRNCreateConnectionEvent = std::function<void(
    TBRNServerSocketWrapper* Sender, int32_t Handle,
    std::unique_ptr<TBRNServerClientSocketWrapper>& Connection)>;
// Supplies a worker for the connection: a thread built over it (taking the
// connection) and not yet resumed; the listener resumes it. A handler that
// supplies no thread leaves Connection as it was.
using TBRNGetThreadEvent = std::function<void(
    TBRNServerSocketWrapper* Sender, std::unique_ptr<TBRNServerClientSocketWrapper>& Connection,
    TBRNServerClientThread*& Thread)>;
using TBRNServerThreadEvent =
    std::function<void(TBRNServerSocketWrapper* Sender, TBRNServerClientThread* Thread)>;
using TBRNClientConnectionEvent =
    std::function<void(TBRNServerSocketWrapper* Sender, TBRNServerClientSocketWrapper* Connection)>;
// Whether a held connection has sent enough to be given a worker. Runs on
// the accept thread; it may peek at the connection but must not receive
// from it, send or block.
using TBRNConnectionReadyCheck = std::function<bool(TBRNServerClientSocketWrapper& Connection)>;
using TBRNClientErrorEvent =
    std::function<void(TBRNServerSocketWrapper* Sender, TBRNServerClientSocketWrapper* Connection,
                       TBRNSocketErrorKind Kind, int32_t& ErrorCode)>;

// The listening socket with its accept thread and its cache of worker
// threads, each serving one accepted connection at a time. The first
// ThreadCacheSize workers wait for another connection after theirs; the
// others end after it.
//
// Threads: Listen, Close, SetThreadCacheSize, SetConnectionHold and
// destruction belong to the thread that controls the server; the callbacks
// are set before Listen and run on the accept thread (OnCreateConnection,
// OnGetThread, the ConnectionAccepted event, the hold's check) or on a
// worker (the others; OnClientDisconnect of a connection closed while held
// runs on the accept thread, or in Close). Close ends every
// worker, waiting ones too, every connection and the accept thread before it
// returns; it must not be called from one of those threads. Lock order: a
// socket lock, then ListLock; ListLock is never held while a socket call
// blocks. The counts and GetThreads may be called from any thread; a worker
// pointer stays valid until the next accepted connection or Close, which
// free the workers that have ended.
//
// Held connections: with a hold set (SetConnectionHold), an accepted
// connection gets no worker until its client has sent enough to be served;
// until then the accept thread watches it beside the listening socket, so a
// client that connects and stays silent costs a descriptor, not a thread.
class TBRNServerSocketWrapper : public TBRNSocketWrapper {
 public:
  TBRNServerSocketWrapper();
  ~TBRNServerSocketWrapper() override;

  // Listens, then starts the accept thread.
  void Listen(const std::string& Host, const std::string& Address, bool NoDelay, uint16_t Port,
              const std::string& Service) override;
  // Accepts one connection and hands it to a worker; the handle, or -1 when
  // closing or nothing was accepted. Called by the accept thread.
  int32_t Accept() override;
  void Close() override;

  int32_t GetThreadCacheSize();
  // Marks the workers in list positions below min(old, new size) cached and
  // the others not; an idle worker beyond the new size waits until it is
  // handed a connection or the listener closes.
  void SetThreadCacheSize(int32_t Size);
  // Holds each accepted connection without a worker until Ready says that
  // its client has sent enough (Ready is asked whenever more arrives); one
  // that is not ready within MaxHoldMs of its accept, or whose peer closes
  // before, is closed unserved (event Disconnecting, OnClientDisconnect).
  // MaxHoldMs 0, the default, gives every connection a worker at once. Set
  // while not listening (std::logic_error otherwise).
  void SetConnectionHold(int32_t MaxHoldMs, TBRNConnectionReadyCheck Ready);
  // Snapshots for monitoring and tests. Held connections count among the
  // connections.
  int32_t GetConnectionCount();
  int32_t GetHeldCount() const { return heldCount_.load(std::memory_order_acquire); }
  int32_t GetThreadCount();
  std::vector<TBRNServerClientThread*> GetThreads();
  bool GetClosing() const { return closing_.load(std::memory_order_acquire); }

  TBRNCreateConnectionEvent OnCreateConnection;
  TBRNGetThreadEvent OnGetThread;
  TBRNServerThreadEvent OnThreadStart;
  TBRNServerThreadEvent OnThreadStop;
  TBRNClientConnectionEvent OnClientConnect;
  TBRNClientConnectionEvent OnClientDisconnect;
  TBRNClientErrorEvent OnClientError;

 protected:
  friend class TBRNServerClientSocketWrapper;
  friend class TBRNServerClientThread;
  friend class TBRNServerAcceptThread;

  // A new worker over the connection, not yet resumed.
  virtual TBRNServerClientThread* CreateClientThread(
      std::unique_ptr<TBRNServerClientSocketWrapper>& Connection);
  virtual void DoThreadStop(TBRNServerClientThread* Thread);
  virtual void DoThreadStart(TBRNServerClientThread* Thread);
  virtual std::unique_ptr<TBRNServerClientSocketWrapper> CreateClientWrapper(int32_t Handle);
  // Hands the connection to the first waiting worker in list order, else to
  // the worker of OnGetThread, else to a new one.
  virtual void AssignClientThread(std::unique_ptr<TBRNServerClientSocketWrapper> Connection);
  virtual void DoClientConnect(TBRNServerClientSocketWrapper* Connection);
  virtual void DoClientDisconnect(TBRNServerClientSocketWrapper* Connection);
  virtual void DoClientError(TBRNServerClientSocketWrapper* Connection, TBRNSocketErrorKind Kind,
                             int32_t& ErrorCode);

  // Guards Connections, Threads, the workers' list state and finished_.
  TBRNCriticalSection ListLock;
  std::vector<TBRNServerClientSocketWrapper*> Connections;
  // Every worker alive that is not being stopped by Close, in the order they
  // joined; the first ThreadCacheSize are the cached ones.
  std::vector<TBRNServerClientThread*> Threads;

 private:
  void addConnection(TBRNServerClientSocketWrapper* connection);
  void removeConnection(TBRNServerClientSocketWrapper* connection);
  // Adds a worker that attaches its first connection; the caller holds
  // ListLock. It is cached when it is among the first ThreadCacheSize.
  void addThread(TBRNServerClientThread* thread);
  // Called by a worker when it ends: leaves Threads and, unless Close is
  // stopping it, joins finished_ to be joined and freed later.
  void threadEnded(TBRNServerClientThread* thread);
  // Joins and frees the workers that ended by themselves.
  void reapFinishedThreads();
  void stopAcceptThread();
  // std::logic_error when called on the accept thread or a worker.
  void checkNotOwnThread();

  // A connection waiting for its client's first bytes. Owned by the accept
  // thread while it listens, by Close after that thread has ended.
  struct THeldConnection {
    std::unique_ptr<TBRNServerClientSocketWrapper> Connection;
    std::chrono::steady_clock::time_point Deadline;
    std::list<THeldConnection>::iterator Self;
  };
  // Accept with a hold: waits for a new connection, for more bytes on a held
  // one or for the next hold to run out, and deals with what happened.
  int32_t acceptHolding();
  // An accepted socket as a connection, its no-delay set and its accept
  // event told. Accept thread.
  std::unique_ptr<TBRNServerClientSocketWrapper> wrapAccepted(int32_t handle);
  void holdConnection(std::unique_ptr<TBRNServerClientSocketWrapper> connection);
  // Ready connections go to a worker; those whose peer has gone are closed.
  void checkHeldConnection(THeldConnection* held, uint32_t events);
  // Takes the connection off the watch list.
  std::unique_ptr<TBRNServerClientSocketWrapper> unhold(THeldConnection* held);
  // Closes the connection unserved and frees it.
  void dropConnection(std::unique_ptr<TBRNServerClientSocketWrapper> connection) noexcept;
  void dropAllHeld() noexcept;

  int32_t threadCacheSize_ = 0;
  std::atomic<bool> closing_{false};
  bool noDelay_ = false;
  std::unique_ptr<TBRNServerAcceptThread> acceptThread_;
  // Signalled by Close to wake a blocked accept; -1 when not listening.
  int32_t wakeFd_ = -1;
  std::vector<TBRNServerClientThread*> finished_;
  // The hold: set while not listening.
  int32_t maxHoldMs_ = 0;
  TBRNConnectionReadyCheck holdReady_;
  // Watches the listening socket, the wake-up descriptor and the held
  // connections; -1 unless listening with a hold.
  int32_t epollFd_ = -1;
  // In accept order, which is also deadline order.
  std::list<THeldConnection> held_;
  std::atomic<int32_t> heldCount_{0};
};

// Accepts connections until terminated.
class TBRNServerAcceptThread : public TBRNThread {
 public:
  // Resumed by the creator.
  explicit TBRNServerAcceptThread(TBRNServerSocketWrapper* Listener);
  ~TBRNServerAcceptThread() override;

 protected:
  void Execute() override;

 private:
  TBRNServerSocketWrapper* listener_;
};

}  // namespace brn
