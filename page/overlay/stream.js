// The program's push stream, shared by every overlay: the state as soon as
// it connects, then each alert and each new state as they happen. When the
// program stops, the overlay tries again every second, so that OBS never
// needs to refresh it.
const key = new URLSearchParams(location.search).get("key");
const withKey = (address) => (key ? `${address}?key=${encodeURIComponent(key)}` : address);

export function follow(onMessage) {
  const connect = () => {
    const socket = new WebSocket(withKey(`ws://${location.host}/overlay/stream`));
    socket.onmessage = (event) => {
      let message;
      try {
        message = JSON.parse(event.data);
      } catch {
        return;
      }
      if (message.type !== "beat") onMessage(message);
    };
    socket.onclose = () => setTimeout(connect, 1000);
  };
  connect();
}

// An image of the "images" folder, as the file names it ("images/lion.gif").
export function imageAddress(path) {
  return withKey(`/overlay/images/${encodeURIComponent(path.slice("images/".length))}`);
}
