// The browser's native-messaging host: framed messages on standard input and output.

int wmain(int, wchar_t*[])
{
    return 0;
}
