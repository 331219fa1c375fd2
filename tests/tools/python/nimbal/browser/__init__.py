"""A headless Chromium with the test extension, asking the native-messaging host under Wine."""
