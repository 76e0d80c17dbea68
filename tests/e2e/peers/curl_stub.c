/* Stands in for a libcurl that lacks most of its functions: the engine must
   refuse it and run on without HTTP requests. */
void *curl_easy_init(void) { return 0; }
