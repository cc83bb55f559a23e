/* Reference mail-server user library: domains and users from the SQLite file
 * mail.db in the folder given to Init. Read only.
 *
 * Not thread-safe: the one database connection and its prepared statements are
 * module state, and the host calls in from a single thread. */

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <sqlite3.h>

#define API_EXPORT __attribute__((visibility("default")))

API_EXPORT int Init(const char *programDirWithTrailingSlash);
API_EXPORT int GetDomainCount(void);
API_EXPORT int GetDomainName(int domain, char *buf, int bufSize);
API_EXPORT int GetUserCount(const char *domain);
API_EXPORT int LoadUser(const char *domain, int user, void *rec, int recSize);
API_EXPORT int GetUserSetting(void *rec, int recSize, int setting, void *buf, int bufSize);

/* User record layout, all integers least significant byte first:
 *   0  magic "VMU1"
 *   4  state (32 bits)
 *   8  hidden (1 byte), 3 bytes zero
 *  12  length of the name
 *  16  length of the mailbox list
 *  20  the name, then the mailbox list */
enum {
    kHeaderSize = 20,
    kTextLimit = 2048 /* what the host's text buffer holds */
};
static const unsigned char kMagic[4] = {'V', 'M', 'U', '1'};

/* Guarded by nothing: single caller thread (see above). */
static sqlite3 *db;
static sqlite3_stmt *domainCountStmt;
static sqlite3_stmt *domainNameStmt;
static sqlite3_stmt *userCountStmt;
static sqlite3_stmt *userStmt;

static void CloseDatabase(void)
{
    sqlite3_finalize(domainCountStmt);
    sqlite3_finalize(domainNameStmt);
    sqlite3_finalize(userCountStmt);
    sqlite3_finalize(userStmt);
    domainCountStmt = domainNameStmt = userCountStmt = userStmt = NULL;
    sqlite3_close(db);
    db = NULL;
}

/* The host never says goodbye; unloading the library closes the database. */
__attribute__((destructor)) static void Unload(void)
{
    CloseDatabase();
}

static int Prepare(const char *sql, sqlite3_stmt **stmt)
{
    return sqlite3_prepare_v2(db, sql, -1, stmt, NULL) == SQLITE_OK;
}

int Init(const char *programDirWithTrailingSlash)
{
    static const char kFile[] = "mail.db";
    CloseDatabase();
    if (programDirWithTrailingSlash == NULL)
        return 1;
    size_t dirLen = strlen(programDirWithTrailingSlash);
    char *path = malloc(dirLen + sizeof kFile);
    if (path == NULL)
        return 1;
    memcpy(path, programDirWithTrailingSlash, dirLen);
    memcpy(path + dirLen, kFile, sizeof kFile);
    /* Read-only: a missing file must fail rather than become an empty database. */
    int rc = sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, NULL);
    free(path);
    if (rc != SQLITE_OK) {
        CloseDatabase();
        return 2;
    }
    /* Preparing every query checks the schema: a missing table or column fails. */
    if (!Prepare("SELECT COUNT(*) FROM domains", &domainCountStmt)
        || !Prepare("SELECT name FROM domains ORDER BY id LIMIT 1 OFFSET ?1", &domainNameStmt)
        || !Prepare("SELECT COUNT(*) FROM users u JOIN domains d ON d.id = u.domain_id"
                    " WHERE d.name = ?1", &userCountStmt)
        || !Prepare("SELECT u.state, u.hidden, u.name, u.mailboxes FROM users u"
                    " JOIN domains d ON d.id = u.domain_id WHERE d.name = ?1"
                    " ORDER BY u.id LIMIT 1 OFFSET ?2", &userStmt)) {
        CloseDatabase();
        return 3;
    }
    return 0;
}

static int ClampCount(sqlite3_int64 n)
{
    if (n < 0)
        return 0;
    return n > INT_MAX ? INT_MAX : (int)n;
}

int GetDomainCount(void)
{
    if (domainCountStmt == NULL)
        return 0;
    int count = 0;
    if (sqlite3_step(domainCountStmt) == SQLITE_ROW)
        count = ClampCount(sqlite3_column_int64(domainCountStmt, 0));
    sqlite3_reset(domainCountStmt);
    return count;
}

int GetDomainName(int domain, char *buf, int bufSize)
{
    if (domainNameStmt == NULL || domain < 0 || buf == NULL || bufSize <= 0)
        return 0;
    int written = 0;
    sqlite3_bind_int(domainNameStmt, 1, domain);
    if (sqlite3_step(domainNameStmt) == SQLITE_ROW) {
        const unsigned char *name = sqlite3_column_text(domainNameStmt, 0);
        int len = sqlite3_column_bytes(domainNameStmt, 0);
        if (name != NULL && len > 0) {
            written = len < bufSize ? len : bufSize;
            memcpy(buf, name, (size_t)written);
        }
    }
    sqlite3_reset(domainNameStmt);
    return written;
}

int GetUserCount(const char *domain)
{
    if (userCountStmt == NULL || domain == NULL)
        return 0;
    int count = 0;
    sqlite3_bind_text(userCountStmt, 1, domain, -1, SQLITE_TRANSIENT);
    if (sqlite3_step(userCountStmt) == SQLITE_ROW)
        count = ClampCount(sqlite3_column_int64(userCountStmt, 0));
    sqlite3_reset(userCountStmt);
    sqlite3_clear_bindings(userCountStmt);
    return count;
}

static void PutU32(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)(v & 0xFF);
    p[1] = (unsigned char)(v >> 8 & 0xFF);
    p[2] = (unsigned char)(v >> 16 & 0xFF);
    p[3] = (unsigned char)(v >> 24 & 0xFF);
}

static uint32_t GetU32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* Longest prefix of a ";" list that fits in limit bytes and ends after a whole
 * mailbox: a cut inside a name would publish an address nobody owns. */
static int WholeMailboxes(const unsigned char *list, int len, int limit)
{
    if (len <= limit)
        return len;
    for (int i = limit; i > 0; --i)
        if (list[i] == ';')
            return i;
    return 0;
}

/* Every value from 0 to 0xFFFFFFFF keeps its 32 bits; anything the 32 bits
 * cannot carry is disabled rather than wrapped into an active 0 or 1. */
static uint32_t StateBits(sqlite3_int64 state)
{
    if (state < INT32_MIN || state > (sqlite3_int64)UINT32_MAX)
        return 2;
    return (uint32_t)state;
}

int LoadUser(const char *domain, int user, void *rec, int recSize)
{
    if (userStmt == NULL || domain == NULL || user < 0 || rec == NULL || recSize < kHeaderSize)
        return 0;
    int loaded = 0;
    sqlite3_bind_text(userStmt, 1, domain, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(userStmt, 2, user);
    if (sqlite3_step(userStmt) == SQLITE_ROW) {
        unsigned char *r = rec;
        uint32_t state = StateBits(sqlite3_column_int64(userStmt, 0));
        unsigned char hidden = sqlite3_column_int64(userStmt, 1) != 0;
        const unsigned char *name = sqlite3_column_text(userStmt, 2);
        int nameLen = name != NULL ? sqlite3_column_bytes(userStmt, 2) : 0;
        const unsigned char *boxes = sqlite3_column_text(userStmt, 3);
        int boxesLen = boxes != NULL ? sqlite3_column_bytes(userStmt, 3) : 0;

        int room = recSize - kHeaderSize;
        boxesLen = WholeMailboxes(boxes, boxesLen, room < kTextLimit ? room : kTextLimit);
        room -= boxesLen;
        if (nameLen > room)
            nameLen = room;
        if (nameLen > kTextLimit)
            nameLen = kTextLimit;

        memset(r, 0, kHeaderSize);
        memcpy(r, kMagic, sizeof kMagic);
        PutU32(r + 4, state);
        r[8] = hidden;
        PutU32(r + 12, (uint32_t)nameLen);
        PutU32(r + 16, (uint32_t)boxesLen);
        if (nameLen > 0)
            memcpy(r + kHeaderSize, name, (size_t)nameLen);
        if (boxesLen > 0)
            memcpy(r + kHeaderSize + nameLen, boxes, (size_t)boxesLen);
        loaded = 1;
    }
    sqlite3_reset(userStmt);
    sqlite3_clear_bindings(userStmt);
    return loaded;
}

int GetUserSetting(void *rec, int recSize, int setting, void *buf, int bufSize)
{
    if (rec == NULL || buf == NULL || recSize < kHeaderSize || bufSize <= 0)
        return 0;
    const unsigned char *r = rec;
    if (memcmp(r, kMagic, sizeof kMagic) != 0)
        return 0;
    uint32_t nameLen = GetU32(r + 12);
    uint32_t boxesLen = GetU32(r + 16);
    /* The record may have been handled by others since LoadUser: trust no length. */
    uint32_t room = (uint32_t)(recSize - kHeaderSize);
    if (nameLen > room || boxesLen > room - nameLen)
        return 0;
    unsigned char *out = buf;
    switch (setting) {
    case 0:
        if (bufSize < 4)
            return 0;
        memcpy(out, r + 4, 4);
        return 4;
    case 32:
        out[0] = r[8];
        return 1;
    case 2: {
        int n = (int)nameLen < bufSize ? (int)nameLen : bufSize;
        memcpy(out, r + kHeaderSize, (size_t)n);
        return n;
    }
    case 3: {
        int n = WholeMailboxes(r + kHeaderSize + nameLen, (int)boxesLen, bufSize);
        memcpy(out, r + kHeaderSize + nameLen, (size_t)n);
        return n;
    }
    default:
        return 0;
    }
}
