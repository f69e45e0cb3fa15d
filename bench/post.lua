-- A page's POST of one request text: a real signing command (Sign, with
-- two text parameters), which the null control module answers with "0".
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/json"
wrk.body = '{"ServeltData":"ProcessNum{1}ProcessEntity-1{FunctionType[10]Param1[aGVsbG8gd29ybGQ=]Param2[0]}ProcessCallBackName{cb}"}'
