/* The floor for the structured preview: reads a file whole and only pulls the
 * event parser's events over it, building nothing. Prints the event count.
 * Usage: yaml-events FILE */
#include <stdio.h>
#include <stdlib.h>

#include <yaml.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  FILE* file = fopen(argv[1], "rb");
  if (!file) {
    perror(argv[1]);
    return 1;
  }
  size_t capacity = 1 << 20, size = 0, got;
  unsigned char* bytes = malloc(capacity);
  while (bytes && (got = fread(bytes + size, 1, capacity - size, file)) > 0) {
    size += got;
    if (size == capacity) bytes = realloc(bytes, capacity *= 2);
  }
  fclose(file);
  if (!bytes) return 1;

  yaml_parser_t parser;
  if (!yaml_parser_initialize(&parser)) return 1;
  yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser, bytes, size);
  unsigned long events = 0;
  int status = 0;
  for (;;) {
    yaml_event_t event;
    if (!yaml_parser_parse(&parser, &event) || parser.error != YAML_NO_ERROR) {
      fprintf(stderr, "error: %s\n", parser.problem ? parser.problem : "unknown");
      status = 1;
      break;
    }
    const int done = event.type == YAML_STREAM_END_EVENT || event.type == YAML_NO_EVENT;
    yaml_event_delete(&event);
    ++events;
    if (done) break;
  }
  yaml_parser_delete(&parser);
  free(bytes);
  printf("%lu events\n", events);
  return status;
}
