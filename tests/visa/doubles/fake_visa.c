/* A stand-in for a vendor VISA library: two instruments, ASRL3::INSTR (serial)
 * and GPIB0::7::INSTR, plus GPIB0::9::INSTR that never answers. A reply is
 * "FAKE," and the last command without its line feed, once per command (a
 * read with nothing asked times out, as on a quiet line). The fake_visa_*
 * functions let a test see what the program did, among them a log of the I/O
 * calls in order. */
#include <stdint.h>
#include <string.h>

typedef int32_t ViStatus;
typedef uint32_t ViObject;
typedef uint64_t ViAttrState;

#define VI_SUCCESS 0
#define VI_SUCCESS_TERM_CHAR 0x3FFF0005
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001D)
#define ATTR_INTF_TYPE 0x3FFF0171u

enum { kManager = 1, kFindList = 2, kSerial = 10, kGpib = 11, kSilent = 12 };

static const char* const kResources[] = {"ASRL3::INSTR", "GPIB0::7::INSTR", "GPIB0::9::INSTR"};
static char g_expression[256];
static char g_lastWrite[512];
static int g_unanswered; /* a command was written and not yet answered */
static int g_nextFound;
static int g_openObjects;
static struct {
    uint32_t attribute;
    ViAttrState value;
} g_attributes[32];
static int g_attributeCount;
static char g_calls[1024];

static void logCall(const char* name)
{
    if (strlen(g_calls) + strlen(name) + 2 < sizeof g_calls) {
        strcat(g_calls, name);
        strcat(g_calls, " ");
    }
}

ViStatus viOpenDefaultRM(ViObject* manager)
{
    *manager = kManager;
    ++g_openObjects;
    return VI_SUCCESS;
}

ViStatus viFindRsrc(ViObject manager, const char* expression, ViObject* list, uint32_t* count, char* first)
{
    (void)manager;
    strncpy(g_expression, expression, sizeof g_expression - 1);
    if (strcmp(expression, "NOTHING?*") == 0)
        return VI_ERROR_RSRC_NFOUND;
    *list = kFindList;
    ++g_openObjects;
    *count = 3;
    strcpy(first, kResources[0]);
    g_nextFound = 1;
    return VI_SUCCESS;
}

ViStatus viFindNext(ViObject list, char* next)
{
    (void)list;
    if (g_nextFound >= 3)
        return VI_ERROR_RSRC_NFOUND;
    strcpy(next, kResources[g_nextFound++]);
    return VI_SUCCESS;
}

ViStatus viOpen(ViObject manager, const char* name, uint32_t mode, uint32_t timeout, ViObject* session)
{
    (void)manager, (void)mode, (void)timeout;
    for (int i = 0; i < 3; ++i)
        if (strcmp(name, kResources[i]) == 0) {
            *session = (ViObject)(kSerial + i);
            ++g_openObjects;
            g_unanswered = 0;
            return VI_SUCCESS;
        }
    return VI_ERROR_RSRC_NFOUND;
}

ViStatus viClose(ViObject object)
{
    (void)object;
    --g_openObjects;
    return VI_SUCCESS;
}

ViStatus viWrite(ViObject session, const unsigned char* buffer, uint32_t count, uint32_t* written)
{
    (void)session;
    logCall("viWrite");
    if (count >= sizeof g_lastWrite)
        count = sizeof g_lastWrite - 1;
    memcpy(g_lastWrite, buffer, count);
    g_lastWrite[count] = '\0';
    g_unanswered = 1;
    *written = count;
    return VI_SUCCESS;
}

ViStatus viRead(ViObject session, unsigned char* buffer, uint32_t count, uint32_t* got)
{
    char reply[600] = "FAKE,";
    size_t length;
    logCall("viRead");
    if (session == kSilent || !g_unanswered)
        return VI_ERROR_TMO;
    g_unanswered = 0;
    strncat(reply, g_lastWrite, strcspn(g_lastWrite, "\n"));
    strcat(reply, "\n");
    length = strlen(reply);
    if (length > count)
        length = count;
    memcpy(buffer, reply, length);
    *got = (uint32_t)length;
    return VI_SUCCESS_TERM_CHAR;
}

ViStatus viClear(ViObject session)
{
    (void)session;
    logCall("viClear");
    return VI_SUCCESS;
}

ViStatus viFlush(ViObject session, uint32_t mask)
{
    (void)session, (void)mask;
    logCall("viFlush");
    return VI_SUCCESS;
}

ViStatus viSetAttribute(ViObject object, uint32_t attribute, ViAttrState value)
{
    (void)object;
    if (g_attributeCount < 32) {
        g_attributes[g_attributeCount].attribute = attribute;
        g_attributes[g_attributeCount].value = value;
        ++g_attributeCount;
    }
    return VI_SUCCESS;
}

/* Writes only the attribute's own 16 bits, as a real library does for the
 * interface type, leaving the rest of the caller's buffer as it was. */
ViStatus viGetAttribute(ViObject object, uint32_t attribute, void* value)
{
    uint16_t type;
    if (attribute != ATTR_INTF_TYPE)
        return VI_ERROR_NSUP_ATTR;
    type = object == kSerial ? 4 : 1;
    memcpy(value, &type, sizeof type);
    return VI_SUCCESS;
}

#ifndef FAKE_VISA_INCOMPLETE
ViStatus viStatusDesc(ViObject object, ViStatus status, char* description)
{
    (void)object;
    if (status == VI_ERROR_TMO)
        strcpy(description, "VI_ERROR_TMO: Timeout expired before operation completed.");
    else if (status == VI_ERROR_RSRC_NFOUND)
        strcpy(description, "VI_ERROR_RSRC_NFOUND: Insufficient location information or resource not present.");
    else
        strcpy(description, "VI_ERROR: unknown");
    return VI_SUCCESS;
}
#endif

const char* fake_visa_last_expression(void)
{
    return g_expression;
}
const char* fake_visa_last_write(void)
{
    return g_lastWrite;
}
int fake_visa_open_objects(void)
{
    return g_openObjects;
}

/* The last value set for an attribute; -1 when it was never set. */
long long fake_visa_attribute(uint32_t attribute)
{
    for (int i = g_attributeCount - 1; i >= 0; --i)
        if (g_attributes[i].attribute == attribute)
            return (long long)g_attributes[i].value;
    return -1;
}

/* The I/O calls since the last call of this function, e.g. "viWrite viRead ". */
const char* fake_visa_take_calls(void)
{
    static char taken[sizeof g_calls];
    strcpy(taken, g_calls);
    g_calls[0] = '\0';
    return taken;
}
