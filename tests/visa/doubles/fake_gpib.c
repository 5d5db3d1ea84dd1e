/* A stand-in for linux-gpib's libgpib.so.0. Primary address 4 has no
 * listener, 9 never answers, 29 is on a board that does not exist; every
 * other address answers "GPIB," and the last command without its line feed,
 * ending the reply with EOI. The fake_gpib_* functions let a test see what
 * the program did, among them a log of the I/O calls in order. */
#include <string.h>

#define ERR 0x8000
#define TIMO 0x4000
#define END 0x2000
#define CMPL 0x0100
#define ENOL 2
#define EABO 6
#define ENEB 7

static int g_ibdev[6];
static int g_timeoutCode = -1;
static char g_lastWrite[512];
static int g_err;
static long g_count;
static int g_online;
static char g_calls[1024];

static void logCall(const char* name)
{
    if (strlen(g_calls) + strlen(name) + 2 < sizeof g_calls) {
        strcat(g_calls, name);
        strcat(g_calls, " ");
    }
}

static int addressOf(int ud)
{
    return ud - 100;
}

int ibdev(int board, int pad, int sad, int tmo, int send_eoi, int eos)
{
    const int args[6] = {board, pad, sad, tmo, send_eoi, eos};
    memcpy(g_ibdev, args, sizeof args);
    if (pad == 29) {
        g_err = ENEB;
        return -1;
    }
    ++g_online;
    return 100 + pad;
}

int ibwrt(int ud, const void* buffer, long count)
{
    logCall("ibwrt");
    if (addressOf(ud) == 4) {
        g_err = ENOL;
        return ERR | CMPL;
    }
    if (count >= (long)sizeof g_lastWrite)
        count = sizeof g_lastWrite - 1;
    memcpy(g_lastWrite, buffer, (size_t)count);
    g_lastWrite[count] = '\0';
    g_count = count;
    return CMPL;
}

int ibrd(int ud, void* buffer, long count)
{
    char reply[600] = "GPIB,";
    long length;
    logCall("ibrd");
    if (addressOf(ud) == 9) {
        g_err = EABO;
        g_count = 0;
        return ERR | TIMO | CMPL;
    }
    strncat(reply, g_lastWrite, strcspn(g_lastWrite, "\n"));
    strcat(reply, "\n");
    length = (long)strlen(reply);
    if (length > count)
        length = count;
    memcpy(buffer, reply, (size_t)length);
    g_count = length;
    return END | CMPL;
}

int ibclr(int ud)
{
    (void)ud;
    logCall("ibclr");
    return CMPL;
}

int ibonl(int ud, int online)
{
    (void)ud;
    if (!online)
        --g_online;
    return CMPL;
}

int ibtmo(int ud, int code)
{
    (void)ud;
    g_timeoutCode = code;
    return CMPL;
}

int ThreadIberr(void)
{
    return g_err;
}
long ThreadIbcntl(void)
{
    return g_count;
}

const char* gpib_error_string(int error)
{
    switch (error) {
    case ENOL: return "ENOL 2: No listeners";
    case ENEB: return "ENEB 7: Non-existent board";
    default: return "unknown error";
    }
}

void fake_gpib_ibdev_arguments(int* out)
{
    memcpy(out, g_ibdev, sizeof g_ibdev);
}
int fake_gpib_timeout_code(void)
{
    return g_timeoutCode;
}
const char* fake_gpib_last_write(void)
{
    return g_lastWrite;
}
int fake_gpib_online(void)
{
    return g_online;
}
/* The I/O calls since the last call of this function, e.g. "ibwrt ibrd ". */
const char* fake_gpib_take_calls(void)
{
    static char taken[sizeof g_calls];
    strcpy(taken, g_calls);
    g_calls[0] = '\0';
    return taken;
}
