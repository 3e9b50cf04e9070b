int kestrel_placeholder = 0;
