// end-to-end tests land here
