// Known bad: a dependent base's member named without this->; /permissive- looks it up in two
// phases and does not find it.
// expect strict: use of undeclared identifier 'sent_'
template <typename T>
struct Counter {
  T sent_{};
};

template <typename T>
struct PrintCounter : Counter<T> {
  T Next() { return ++sent_; }
};

int NextJob() { return PrintCounter<int>().Next(); }
