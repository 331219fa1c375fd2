// The test evaluates ask() in this page through the browser's debugging protocol; the browser
// starts the native-messaging host for each message and hands back its reply.
function ask(hostName, text) {
  return new Promise((resolve) => {
    chrome.runtime.sendNativeMessage(hostName, { text }, (reply) => {
      if (chrome.runtime.lastError)
        resolve({ error: chrome.runtime.lastError.message });
      else
        resolve({ reply });
    });
  });
}
