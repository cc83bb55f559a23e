/* A mail-server library for tests: every value of every setting comes from the
 * text file fakeapi.txt in the folder given to Init, one TAB-separated line each:
 *
 *   init     <result>          Init answers this (default 0)
 *   overlong                   text lengths are reported 100 bytes past the buffer
 *   negative                   text lengths are reported as -1
 *   domain   <name>            following users belong to it
 *   user     <LoadUser result> <setting 0, int32> <setting 32, byte> <name> <mailboxes>
 *
 * Settings other than 0, 32, 2 and 3 write nothing but claim 5 bytes, so a host
 * that does not clear its buffers shows stale bytes. Wrong record or buffer sizes
 * make LoadUser and GetUserSetting write nothing. A missing fakeapi.txt fails Init.
 * Built with FAKE_API_OMIT_GETUSERSETTING it lacks one of the six names. */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_EXPORT __attribute__((visibility("default")))

enum { kMaxDomains = 16, kMaxUsers = 64, kMaxText = 4096, kRecordSize = 4092 };

struct FakeUser {
    int domain;
    int loadResult;
    int32_t state;
    unsigned char hidden;
    char name[kMaxText];
    char mailboxes[kMaxText];
};

/* Single caller thread, like the real library. */
static char domains[kMaxDomains][256];
static int domainCount;
static struct FakeUser users[kMaxUsers];
static int userCount;
static int overlong;
static int negative;

static int FindDomain(const char *name)
{
    for (int i = 0; name != NULL && i < domainCount; ++i)
        if (strcmp(domains[i], name) == 0)
            return i;
    return -1;
}

/* strtok would merge empty fields; names and mailbox lists may be empty. */
static char *NextField(char **cursor)
{
    char *start = *cursor;
    if (start == NULL)
        return NULL;
    char *tab = strchr(start, '\t');
    if (tab != NULL) {
        *tab = '\0';
        *cursor = tab + 1;
    } else {
        *cursor = NULL;
    }
    return start;
}

static void CopyText(char *dst, const char *src)
{
    snprintf(dst, kMaxText, "%s", src != NULL ? src : "");
}

FAKE_EXPORT int Init(const char *dir)
{
    domainCount = userCount = overlong = negative = 0;
    if (dir == NULL)
        return 1;
    char path[4096];
    snprintf(path, sizeof path, "%sfakeapi.txt", dir);
    FILE *f = fopen(path, "r");
    if (f == NULL)
        return 1;
    int result = 0;
    static char line[3 * kMaxText];
    while (fgets(line, sizeof line, f) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        char *cursor = line;
        const char *kind = NextField(&cursor);
        if (strcmp(kind, "init") == 0) {
            const char *value = NextField(&cursor);
            result = value != NULL ? atoi(value) : 0;
        } else if (strcmp(kind, "overlong") == 0) {
            overlong = 1;
        } else if (strcmp(kind, "negative") == 0) {
            negative = 1;
        } else if (strcmp(kind, "domain") == 0 && domainCount < kMaxDomains) {
            const char *name = NextField(&cursor);
            snprintf(domains[domainCount++], sizeof domains[0], "%s", name != NULL ? name : "");
        } else if (strcmp(kind, "user") == 0 && userCount < kMaxUsers && domainCount > 0) {
            struct FakeUser *u = &users[userCount++];
            const char *load = NextField(&cursor);
            const char *state = NextField(&cursor);
            const char *hidden = NextField(&cursor);
            u->domain = domainCount - 1;
            u->loadResult = load != NULL ? atoi(load) : 0;
            u->state = state != NULL ? (int32_t)strtoll(state, NULL, 0) : 0;
            u->hidden = (unsigned char)(hidden != NULL ? atoi(hidden) : 0);
            CopyText(u->name, NextField(&cursor));
            CopyText(u->mailboxes, NextField(&cursor));
        }
    }
    fclose(f);
    return result;
}

FAKE_EXPORT int GetDomainCount(void)
{
    return domainCount;
}

static int ReportText(const char *text, void *buf, int bufSize)
{
    int len = (int)strlen(text);
    int n = len < bufSize ? len : bufSize;
    memcpy(buf, text, (size_t)n);
    if (negative)
        return -1;
    return overlong ? bufSize + 100 : n;
}

FAKE_EXPORT int GetDomainName(int domain, char *buf, int bufSize)
{
    if (domain < 0 || domain >= domainCount || buf == NULL || bufSize != 2048)
        return 0;
    return ReportText(domains[domain], buf, bufSize);
}

FAKE_EXPORT int GetUserCount(const char *domain)
{
    int d = FindDomain(domain);
    int count = 0;
    for (int i = 0; d >= 0 && i < userCount; ++i)
        count += users[i].domain == d;
    return count;
}

/* The record carries the index of the user in the table, nothing else. */
FAKE_EXPORT int LoadUser(const char *domain, int user, void *rec, int recSize)
{
    int d = FindDomain(domain);
    if (d < 0 || rec == NULL || recSize != kRecordSize)
        return 0;
    for (int i = 0, seen = 0; i < userCount; ++i) {
        if (users[i].domain != d)
            continue;
        if (seen++ == user) {
            /* A user that is passed over leaves the record as it was. */
            if (users[i].loadResult > 0) {
                int32_t index = i + 1;
                memcpy(rec, &index, sizeof index);
            }
            return users[i].loadResult;
        }
    }
    return 0;
}

#ifndef FAKE_API_OMIT_GETUSERSETTING
FAKE_EXPORT int GetUserSetting(void *rec, int recSize, int setting, void *buf, int bufSize)
{
    if (rec == NULL || buf == NULL || recSize != kRecordSize)
        return 0;
    int32_t index;
    memcpy(&index, rec, sizeof index);
    if (index < 1 || index > userCount)
        return 0;
    const struct FakeUser *u = &users[index - 1];
    unsigned char *out = buf;
    switch (setting) {
    case 0:
        if (bufSize != 4)
            return 0;
        {
            uint32_t v = (uint32_t)u->state;
            out[0] = (unsigned char)(v & 0xFF);
            out[1] = (unsigned char)(v >> 8 & 0xFF);
            out[2] = (unsigned char)(v >> 16 & 0xFF);
            out[3] = (unsigned char)(v >> 24 & 0xFF);
        }
        return 4;
    case 32:
        if (bufSize != 1)
            return 0;
        out[0] = u->hidden;
        return 1;
    case 2:
    case 3:
        if (bufSize != 2048)
            return 0;
        return ReportText(setting == 2 ? u->name : u->mailboxes, buf, bufSize);
    default:
        return 5;
    }
}
#endif
