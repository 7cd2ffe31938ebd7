#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
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

 private:
  TBRNServerSocketWrapper* listener_;
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
using TBRNClientErrorEvent =
    std::function<void(TBRNServerSocketWrapper* Sender, TBRNServerClientSocketWrapper* Connection,
                       TBRNSocketErrorKind Kind, int32_t& ErrorCode)>;

// The listening socket with its accept thread and its cache of worker
// threads, each serving one accepted connection at a time. The first
// ThreadCacheSize workers wait for another connection after theirs; the
// others end after it.
//
// Threads: Listen, Close, SetThreadCacheSize and destruction belong to the
// thread that controls the server; the callbacks are set before Listen and
// run on the accept thread (OnCreateConnection, OnGetThread, the
// ConnectionAccepted event) or on a worker (the others). Close ends every
// worker, waiting ones too, every connection and the accept thread before it
// returns; it must not be called from one of those threads. Lock order: a
// socket lock, then ListLock; ListLock is never held while a socket call
// blocks. The counts and GetThreads may be called from any thread; a worker
// pointer stays valid until the next accepted connection or Close, which
// free the workers that have ended.
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
  // Snapshots for monitoring and tests.
  int32_t GetConnectionCount();
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

  int32_t threadCacheSize_ = 0;
  std::atomic<bool> closing_{false};
  bool noDelay_ = false;
  std::unique_ptr<TBRNServerAcceptThread> acceptThread_;
  // Signalled by Close to wake a blocked accept; -1 when not listening.
  int32_t wakeFd_ = -1;
  std::vector<TBRNServerClientThread*> finished_;
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
