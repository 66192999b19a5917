/* Test-only Lua module: Lua cannot make a pointer to pixels, so this one makes
 * pixel buffers as full userdata of an exact size and reads and writes their
 * words, through full or light userdata. */
#include <stdint.h>
#include <string.h>

#include <lauxlib.h>
#include <lua.h>

static unsigned char *bytesOf(lua_State *L, int index) {
  unsigned char *p = (unsigned char *)lua_touserdata(L, index);
  if (p == NULL) luaL_argerror(L, index, "pixel buffer expected");
  return p;
}

/* new(words [, extraBytes]): a zeroed full userdata of words * 4 (+ extra) bytes. */
static int pixbufNew(lua_State *L) {
  size_t words = (size_t)luaL_checknumber(L, 1);
  size_t extra = (size_t)luaL_optnumber(L, 2, 0);
  void *p = lua_newuserdata(L, words * 4 + extra);
  memset(p, 0, words * 4 + extra);
  return 1;
}

/* fromTable({w1, w2, ...}): a full userdata holding exactly those words. */
static int pixbufFromTable(lua_State *L) {
  size_t n, i;
  unsigned char *p;
  luaL_checktype(L, 1, LUA_TTABLE);
  n = lua_objlen(L, 1);
  p = (unsigned char *)lua_newuserdata(L, n * 4 > 0 ? n * 4 : 1);
  for (i = 0; i < n; i++) {
    uint32_t w;
    lua_rawgeti(L, 1, (int)i + 1);
    w = (uint32_t)(int64_t)lua_tonumber(L, -1);
    lua_pop(L, 1);
    memcpy(p + i * 4, &w, 4);
  }
  return 1;
}

/* toTable(buffer, words [, byteOffset]): the words as a table of numbers. */
static int pixbufToTable(lua_State *L) {
  unsigned char *p = bytesOf(L, 1);
  int n = (int)luaL_checknumber(L, 2);
  size_t offset = (size_t)luaL_optnumber(L, 3, 0);
  int i;
  lua_createtable(L, n, 0);
  for (i = 0; i < n; i++) {
    uint32_t w;
    memcpy(&w, p + offset + (size_t)i * 4, 4);
    lua_pushnumber(L, (lua_Number)w);
    lua_rawseti(L, -2, i + 1);
  }
  return 1;
}

/* get(buffer, index [, byteOffset]) and set(buffer, index, word [, byteOffset]). */
static int pixbufGet(lua_State *L) {
  unsigned char *p = bytesOf(L, 1);
  size_t i = (size_t)luaL_checknumber(L, 2);
  size_t offset = (size_t)luaL_optnumber(L, 3, 0);
  uint32_t w;
  memcpy(&w, p + offset + i * 4, 4);
  lua_pushnumber(L, (lua_Number)w);
  return 1;
}

static int pixbufSet(lua_State *L) {
  unsigned char *p = bytesOf(L, 1);
  size_t i = (size_t)luaL_checknumber(L, 2);
  uint32_t w = (uint32_t)(int64_t)luaL_checknumber(L, 3);
  size_t offset = (size_t)luaL_optnumber(L, 4, 0);
  memcpy(p + offset + i * 4, &w, 4);
  return 0;
}

/* light(buffer [, byteOffset]): a light userdata pointing into the buffer, as
 * a host hands its frames over. */
static int pixbufLight(lua_State *L) {
  unsigned char *p = bytesOf(L, 1);
  size_t offset = (size_t)luaL_optnumber(L, 2, 0);
  lua_pushlightuserdata(L, p + offset);
  return 1;
}

static const luaL_Reg functions[] = {
    {"new", pixbufNew},   {"fromTable", pixbufFromTable}, {"toTable", pixbufToTable},
    {"get", pixbufGet},   {"set", pixbufSet},             {"light", pixbufLight},
    {NULL, NULL},
};

int luaopen_pixbuf(lua_State *L) {
  luaL_register(L, "pixbuf", functions);
  return 1;
}
