// The render worker's side of its socket: reads the window's requests one at
// a time and answers each with the reply for its file, rendered as
// quarn-preview renders it. Runs in a process of its own under the budget and
// the sandbox, where a render that crashes or runs out of memory ends only
// this process. Free of GTK.
#ifndef QUARN_VIEWER_RENDERSERVER_H_
#define QUARN_VIEWER_RENDERSERVER_H_

namespace quarn::RenderServer {

// The worker's exit status when a request is damaged or its reply cannot be
// sent; never the budget's, which tells the window the file was too large.
constexpr int kBrokenStatus = 70;

// Serves requests on `socket` until the window closes its end. Returns the
// exit status: 0 at the end of the stream, else kBrokenStatus.
int serve(int socket);

}  // namespace quarn::RenderServer

#endif  // QUARN_VIEWER_RENDERSERVER_H_
