// The files a JACK server keeps under /dev/shm: the shared memory segments it maps (about 130 MB)
// and the sockets and semaphores named after it. A server that ends cleanly removes them; one
// that is killed leaves them behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kv5::test {

struct ShmSegment {
  std::string path;
  ino_t inode = 0;
};

// Segments the running process maps, other than the registry that all servers share.
std::vector<ShmSegment> MappedJackSegments(pid_t server);
// Adds the segments the server maps now to those already known.
void AddMappedJackSegments(pid_t server, std::vector<ShmSegment>* known);
// The known segments that still exist (the same file, not a later server's of the same name),
// and the sockets and semaphores of the named server.
std::vector<std::string> JackServerFiles(const std::vector<ShmSegment>& segments,
                                         const std::string& serverName);
// Removes the files JackServerFiles lists; returns how many.
int RemoveJackServerFiles(const std::vector<ShmSegment>& segments, const std::string& serverName);

// Servers take one of eight slots in the registry that all servers of the machine share. A
// server that is killed keeps its slot, and once eight dead servers hold them every new server
// is refused ("Too many servers already active"). Frees the named server's slot if its process
// is gone; true when a slot was freed. The layout is libjack 1.9's (checked before it is touched).
bool ForgetDeadJackServer(const std::string& serverName);
// The named server holds a registry slot.
bool JackServerRegistered(const std::string& serverName);

// libjack keeps clients' properties in a Berkeley DB environment, /dev/shm/jack_db-<uid>, that
// a server removes when it ends cleanly. A server killed while it was still setting that up
// leaves it half made, and every later server of the user then hangs in "BDB1546 unable to join
// the environment" and never accepts a client. The directory of that environment:
std::string JackMetadataDir();
// Removes the environment in dir when no process maps a file of it (nothing can be using it);
// returns how many files were removed.
int RemoveStaleJackMetadata(const std::string& dir);
// Some process maps a file of the environment in dir (a removed file it still maps included).
bool JackMetadataInUse(const std::string& dir);

// jackd removes the environment when it ends cleanly, even while a server it did not start (the
// user's own) still uses it. KeepJackMetadata hard-links its files into keep before a server of
// ours stops; RestoreJackMetadata then links back those that went while another process still
// maps them, so that server keeps the very files it uses, and removes keep. Both return how many
// files they linked.
int KeepJackMetadata(const std::string& dir, const std::string& keep);
int RestoreJackMetadata(const std::string& dir, const std::string& keep);

}  // namespace kv5::test
